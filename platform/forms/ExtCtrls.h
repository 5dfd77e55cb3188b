#pragma once
// Panels and images.
// Main thread only.
#include <memory>

#include <ztlogger/platform/forms/Controls.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

enum TBevelCut : uint8_t { bvNone, bvLowered, bvRaised, bvSpace };
ZTL_ENUM_NAMES(TBevelCut, "bvNone", "bvLowered", "bvRaised", "bvSpace")

class ZTL_PLATFORM_API TPanel : public TCustomControl {
  ZTL_DECLARE_CLASS(TPanel, TCustomControl)

 public:
  explicit TPanel(TComponent* AOwner);

  TBevelCut BevelOuter() const { return bevelOuter_; }
  void SetBevelOuter(TBevelCut value) { bevelOuter_ = value; }
  TBevelCut BevelInner() const { return bevelInner_; }
  void SetBevelInner(TBevelCut value) { bevelInner_ = value; }
  int BevelWidth() const { return bevelWidth_; }
  void SetBevelWidth(int value) { bevelWidth_ = value; }
  TBorderStyle BorderStyle() const { return borderStyle_; }
  void SetBorderStyle(TBorderStyle value) { borderStyle_ = value; }
  TAlignment Alignment() const { return alignment_; }
  void SetAlignment(TAlignment value) { alignment_ = value; }

 private:
  TBevelCut bevelOuter_ = bvRaised;
  TBevelCut bevelInner_ = bvNone;
  int bevelWidth_ = 1;
  TBorderStyle borderStyle_ = bsNone;
  TAlignment alignment_ = taCenter;
};

class ZTL_PLATFORM_API TImage : public TGraphicControl {
  ZTL_DECLARE_CLASS(TImage, TGraphicControl)

 public:
  explicit TImage(TComponent* AOwner);
  ~TImage() override;

  TPicture* Picture() const { return picture_.get(); }
  // Copies value into the image's own picture.
  void SetPicture(TPicture* value) { picture_->Assign(value); }
  bool Center() const { return center_; }
  void SetCenter(bool value) { center_ = value; }
  bool Stretch() const { return stretch_; }
  void SetStretch(bool value) { stretch_ = value; }
  bool Proportional() const { return proportional_; }
  void SetProportional(bool value) { proportional_ = value; }
  // Also makes the picture's graphic transparent.
  bool Transparent() const { return transparent_; }
  void SetTransparent(bool value);

 protected:
  void AdjustSize() override;

 private:
  void PictureChanged(TObject* Sender);
  bool PictureStored() const { return !picture_->Empty(); }

  std::unique_ptr<TPicture> picture_;
  bool center_ = false;
  bool stretch_ = false;
  bool proportional_ = false;
  bool transparent_ = false;
};

}  // namespace ztl
