#include <ztlogger/platform/forms/ExtCtrls.h>

#include <ztlogger/platform/classes/ClassBuilder.h>

namespace ztl {

ZTL_BEGIN_CLASS(TPanel, TCustomControl)
  .Property("Alignment", &Self::Alignment, &Self::SetAlignment).Default(taCenter)
  .Property("BevelInner", &Self::BevelInner, &Self::SetBevelInner).Default(bvNone)
  .Property("BevelOuter", &Self::BevelOuter, &Self::SetBevelOuter).Default(bvRaised)
  .Property("BevelWidth", &Self::BevelWidth, &Self::SetBevelWidth).Default(1)
  .Property("BorderStyle", &Self::BorderStyle, &Self::SetBorderStyle).Default(bsNone)
  .Property("Caption", &Self::Caption, &Self::SetCaption)
ZTL_END_CLASS
ZTL_BEGIN_CLASS(TImage, TGraphicControl)
  .Property("Center", &Self::Center, &Self::SetCenter).Default(false)
  .Property("Picture", &Self::Picture, &Self::SetPicture).Stored(&Self::PictureStored)
  .Property("Proportional", &Self::Proportional, &Self::SetProportional).Default(false)
  .Property("Stretch", &Self::Stretch, &Self::SetStretch).Default(false)
  .Property("Transparent", &Self::Transparent, &Self::SetTransparent).Default(false)
ZTL_END_CLASS

TPanel::TPanel(TComponent* AOwner) : TCustomControl(AOwner) { SetBounds(0, 0, 185, 41); }

TImage::TImage(TComponent* AOwner) : TGraphicControl(AOwner), picture_(std::make_unique<TPicture>()) {
  picture_->SetOnChange(MakeMethod<&TImage::PictureChanged>(this));
  SetBounds(0, 0, 105, 105);
}

TImage::~TImage() { picture_->SetOnChange(nullptr); }

void TImage::PictureChanged(TObject*) {
  if (transparent_ && picture_->Graphic()) picture_->Graphic()->SetTransparent(true);
  Changed(ccPicture);
  AdjustSize();
}

void TImage::SetTransparent(bool value) {
  if (value == transparent_) return;
  transparent_ = value;
  if (picture_->Graphic()) picture_->Graphic()->SetTransparent(value);
}

void TImage::AdjustSize() {
  if (!AutoSize() || Loading() || picture_->Empty()) return;
  SetBounds(Left(), Top(), picture_->Width(), picture_->Height());
}

namespace {
const bool registered = [] {
  RegisterClass(TPanel::StaticClass());
  RegisterClass(TImage::StaticClass());
  return true;
}();
}  // namespace

}  // namespace ztl
