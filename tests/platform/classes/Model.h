#pragma once
// Small framework classes with every kind of published property, for the
// tests of the object model and of stored forms.
#include <ztlogger/platform/classes/Collection.h>
#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/classes/Strings.h>

namespace ztl::test {

enum TColorKind : uint8_t { ckRed, ckGreen, ckBlue };
ZTL_ENUM_NAMES(TColorKind, "ckRed", "ckGreen", "ckBlue")
using TColorKinds = TSet<TColorKind, 3>;

class TSettings : public TPersistent {
  ZTL_DECLARE_CLASS(TSettings, TPersistent)

 public:
  TSettings() : files_(new TStringList) {}
  ~TSettings() override { delete files_; }
  TSettings(const TSettings&) = delete;
  TSettings& operator=(const TSettings&) = delete;

  const String& Title() const { return title_; }
  void SetTitle(const String& v) { title_ = v; }
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool v) { enabled_ = v; }
  TStrings* Files() const { return files_; }
  void SetFiles(TStrings* v) { files_->Assign(v); }
  void Assign(TPersistent* Source) override;

  // Bytes stored beside the published properties as "Blob = { hex }".
  std::vector<uint8_t> Blob;

 protected:
  void DefineProperties(TFiler* Filer) override;

 private:
  String title_ = "untitled";
  bool enabled_ = true;
  TStringList* files_;
};

class TWidget;

// Items nest: every thing has parts, which are things again.
class TThing : public TCollectionItem {
  ZTL_DECLARE_CLASS(TThing, TCollectionItem)

 public:
  explicit TThing(TCollection* Collection);
  ~TThing() override;
  TThing(const TThing&) = delete;
  TThing& operator=(const TThing&) = delete;

  int Size() const { return size_; }
  void SetSize(int v) { size_ = v; }
  const String& Label() const { return label_; }
  void SetLabel(const String& v) { label_ = v; }
  TWidget* Partner() const { return partner_; }
  void SetPartner(TWidget* v) { partner_ = v; }
  TCollection* Parts() const { return parts_; }
  void Assign(TPersistent* Source) override;

 private:
  int size_ = 1;
  String label_;
  TWidget* partner_ = nullptr;
  TCollection* parts_;
};

// A thing of a class of its own, with a property plain things lack.
class TBigThing : public TThing {
  ZTL_DECLARE_CLASS(TBigThing, TThing)

 public:
  explicit TBigThing(TCollection* Collection) : TThing(Collection) {}
  int Weight() const { return weight_; }
  void SetWeight(int v) { weight_ = v; }

 private:
  int weight_ = 0;
};

class TWidget : public TComponent {
  ZTL_DECLARE_CLASS(TWidget, TComponent)

 public:
  explicit TWidget(TComponent* AOwner);
  ~TWidget() override;

  int Count() const { return count_; }
  void SetCount(int v) { count_ = v; }
  double Ratio() const { return ratio_; }
  void SetRatio(double v) { ratio_ = v; }
  const String& Caption() const { return caption_; }
  void SetCaption(const String& v) { caption_ = v; }
  bool Visible() const { return visible_; }
  void SetVisible(bool v) { visible_ = v; }
  TColorKind Color() const { return color_; }
  void SetColor(TColorKind v) { color_ = v; }
  TColorKinds Colors() const { return colors_; }
  void SetColors(TColorKinds v) { colors_ = v; }
  TSettings* Settings() const { return settings_; }
  TCollection* Things() const { return things_; }
  TWidget* Buddy() const { return buddy_; }
  void SetBuddy(TWidget* v);
  TNotifyEvent OnPing() const { return onPing_; }
  void SetOnPing(const TNotifyEvent& v) { onPing_ = v; }
  // Sub-objects that are never there, for stored forms that name them anyway.
  TSettings* Spare() const { return nullptr; }
  TCollection* NoThings() const { return nullptr; }
  TStrings* NoLines() const { return nullptr; }

  // What happened, for tests of the loading order.
  std::vector<String> Trace;
  bool LoadingWhenCaptionSet = false;

  void Loaded() override;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  int count_ = 0;
  double ratio_ = 0;
  String caption_;
  bool visible_ = true;
  TColorKind color_ = ckGreen;
  TColorKinds colors_{ckRed, ckBlue};
  TSettings* settings_;
  TCollection* things_;
  TWidget* buddy_ = nullptr;
  TNotifyEvent onPing_;
};

// A root with published handler methods and a published field.
class TPanelRoot : public TComponent {
  ZTL_DECLARE_CLASS(TPanelRoot, TComponent)

 public:
  explicit TPanelRoot(TComponent* AOwner) : TComponent(AOwner) {}
  void PingHandler(TObject* Sender) { pinged.push_back(Sender); }
  void OtherHandler(TObject* Sender) { (void)Sender; }
  void WrongSignature(TObject* Sender, int n) { (void)Sender, (void)n; }

  TWidget* First = nullptr;
  std::vector<TObject*> pinged;
};

// Registers the model classes for stored forms.
void RegisterModel();

}  // namespace ztl::test
