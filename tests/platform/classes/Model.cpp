#include "tests/platform/classes/Model.h"

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/classes/Streams.h>

namespace ztl::test {

ZTL_BEGIN_CLASS(TSettings, TPersistent)
  .Property("Title", &Self::Title, &Self::SetTitle).Default("untitled")
  .Property("Enabled", &Self::Enabled, &Self::SetEnabled).Default(true)
  .Property("Files", &Self::Files, &Self::SetFiles)
ZTL_END_CLASS

void TSettings::Assign(TPersistent* Source) {
  auto* other = dynamic_cast<TSettings*>(Source);
  if (!other) return TPersistent::Assign(Source);
  title_ = other->title_;
  enabled_ = other->enabled_;
  files_->Assign(other->files_);
  Blob = other->Blob;
}

void TSettings::DefineProperties(TFiler* Filer) {
  Filer->DefineBinaryProperty(
      "Blob",
      [this](TStream& data) {
        Blob.assign(static_cast<size_t>(data.Size()), 0);
        data.ReadBuffer(Blob.data(), data.Size());
      },
      [this](TStream& data) { data.WriteBuffer(Blob.data(), static_cast<int64_t>(Blob.size())); }, !Blob.empty());
}

ZTL_BEGIN_CLASS(TThing, TCollectionItem)
  .Property("Size", &Self::Size, &Self::SetSize).Default(1)
  .Property("Label", &Self::Label, &Self::SetLabel)
  .Property("Partner", &Self::Partner, &Self::SetPartner)
  .Property("Parts", &Self::Parts)
ZTL_END_CLASS

TThing::TThing(TCollection* Collection)
    : TCollectionItem(Collection), parts_(new TOwnedCollection(this, TThing::StaticClass())) {}

TThing::~TThing() { delete parts_; }

void TThing::Assign(TPersistent* Source) {
  auto* other = dynamic_cast<TThing*>(Source);
  if (!other) return TCollectionItem::Assign(Source);
  size_ = other->size_;
  label_ = other->label_;
  partner_ = other->partner_;
  parts_->Assign(other->parts_);
}

ZTL_BEGIN_CLASS(TBigThing, TThing)
  .Property("Weight", &Self::Weight, &Self::SetWeight).Default(0)
ZTL_END_CLASS

ZTL_BEGIN_CLASS(TWidget, TComponent)
  .Property("Count", &Self::Count, &Self::SetCount).Default(0)
  .Property("Ratio", &Self::Ratio, &Self::SetRatio)
  .Property("Caption", &Self::Caption, &Self::SetCaption)
  .Property("Visible", &Self::Visible, &Self::SetVisible).Default(true)
  .Property("Color", &Self::Color, &Self::SetColor).Default(ckGreen)
  .Property("Colors", &Self::Colors, &Self::SetColors).Default(TColorKinds{ckRed, ckBlue})
  .Property("Settings", &Self::Settings)
  .Property("Things", &Self::Things)
  .Property("Buddy", &Self::Buddy, &Self::SetBuddy)
  .Property("OnPing", &Self::OnPing, &Self::SetOnPing)
  .Property("Spare", &Self::Spare)
  .Property("NoThings", &Self::NoThings)
  .Property("NoLines", &Self::NoLines)
ZTL_END_CLASS

TWidget::TWidget(TComponent* AOwner)
    : TComponent(AOwner), settings_(new TSettings), things_(new TOwnedCollection(this, TThing::StaticClass())) {}

TWidget::~TWidget() {
  delete things_;
  delete settings_;
}

void TWidget::SetBuddy(TWidget* v) {
  buddy_ = v;
  if (v) v->FreeNotification(this);
}

void TWidget::Loaded() {
  TComponent::Loaded();
  Trace.push_back("Loaded");
}

void TWidget::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == opRemove && AComponent == buddy_) buddy_ = nullptr;
}

ZTL_BEGIN_CLASS(TPanelRoot, TComponent)
  .Method<&Self::PingHandler>("PingHandler")
  .Method<&Self::OtherHandler>("OtherHandler")
  .Method<&Self::WrongSignature>("WrongSignature")
  .Field("First", &Self::First)
ZTL_END_CLASS

void RegisterModel() {
  RegisterClass(TWidget::StaticClass());
  RegisterClass(TPanelRoot::StaticClass());
  RegisterClass(TBigThing::StaticClass());
}

}  // namespace ztl::test
