#pragma once
// Input validation. A check provider binds one rule to one input control of a
// form (an edit box, a numeric edit box, a check box or a combo box), checks
// the control's value on request and records the outcome. The check processor
// owns a collection of providers, runs them in order, marks each failing
// control with a small picture whose tooltip says what is wrong, moves the
// focus to the first failing control that can take it and beeps once.
//
// Providers and processor belong to the user interface: main thread only.
#include <cstdint>
#include <memory>

#include <ztlogger/platform/classes/Collection.h>
#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/forms/Controls.h>
#include <ztlogger/platform/forms/ExtCtrls.h>
#include <ztlogger/platform/forms/Graphics.h>
#include <ztlogger/platform/rtl/Export.h>

namespace ztl {

enum TZTLCheckStatus : uint8_t { csUnknown, csValid, csFailed };
ZTL_ENUM_NAMES(TZTLCheckStatus, "csUnknown", "csValid", "csFailed")

// The base provider: carries the mark's picture, the control, the hint text,
// the focus flag, the status and the event; its own check accepts everything.
// A provider keeps no reference to a control or a mark image that has been
// freed: it hears of their end and forgets them.
class ZTL_API TZTLCheckProvider : public TCollectionItem {
  ZTL_DECLARE_CLASS(TZTLCheckProvider, TCollectionItem)

 public:
  // Joins Collection (when given); empty picture, no control, focus allowed,
  // status csUnknown, hint "Check failed.".
  explicit TZTLCheckProvider(TCollection* Collection);
  // Frees the mark image, if one was made and is still there.
  ~TZTLCheckProvider() override;

  // Runs the kind's check, clears the mark's picture until the processor
  // places it again, then calls OnCheck, which may change CheckStatus. What
  // the check raises (a numeric box that holds no number) propagates; the
  // mark and OnCheck are then left alone.
  void ExecuteCheck();
  // Makes, updates, shows or hides the mark beside the control. The first
  // failure makes it: a TImage owned by the processor of the provider's
  // collection, in the control's parent. Its picture is the provider's own
  // bitmap, or defPicture when that is empty. Without a control or a
  // processor no mark is made (an existing one is hidden), and nothing is
  // raised.
  void CreateLinkedImage(TPicture* defPicture);
  // The mark's tooltip; the base gives HintText.
  virtual String GetHintText() const;
  // Copies Picture, CheckControl, HintText and FocusOnError from another
  // provider (each kind adds its own settings), inside the collection's
  // BeginUpdate/EndUpdate. Anything else raises EConvertError.
  void Assign(TPersistent* Source) override;

  TPicture* Picture() const { return FPicture.get(); }
  // Copies Value into the provider's own picture.
  void SetPicture(TPicture* Value);
  TControl* CheckControl() const { return FCheckControl; }
  void SetCheckControl(TControl* Value);
  const String& HintText() const { return FHintText; }
  void SetHintText(const String& Value) { FHintText = Value; }
  bool FocusOnError() const { return FFocusOnError; }
  void SetFocusOnError(bool Value) { FFocusOnError = Value; }
  TZTLCheckStatus CheckStatus() const { return FCheckStatus; }
  void SetCheckStatus(TZTLCheckStatus Value) { FCheckStatus = Value; }
  TNotifyEvent OnCheck() const { return FOnCheck; }
  void SetOnCheck(const TNotifyEvent& Value) { FOnCheck = Value; }
  // The mark, or nullptr before the first failure was shown (or after its
  // parent freed it).
  TImage* LinkedImage() const { return FLinkedImage; }

 protected:
  // The stored test of HintText: whether it differs from the kind's default.
  virtual bool HintMustBeStored() const;
  // The kind's rule; each kind runs its parent's rule first.
  virtual void InternalCheck();

 private:
  class TReferences;
  bool PictureStored() const;

  std::unique_ptr<TPicture> FPicture;
  TControl* FCheckControl = nullptr;
  String FHintText;
  bool FFocusOnError = true;
  TZTLCheckStatus FCheckStatus = csUnknown;
  TNotifyEvent FOnCheck;
  TImage* FLinkedImage = nullptr;
  // Hears of the end of the control and of the mark image.
  std::unique_ptr<TReferences> FReferences;
};
using TZTLCheckProviderClass = TClass;

// Fails when its edit control (memos included) is empty and Required is set.
// The text is not trimmed: blanks pass.
class ZTL_API TZTLCheckProviderEdit : public TZTLCheckProvider {
  ZTL_DECLARE_CLASS(TZTLCheckProviderEdit, TZTLCheckProvider)

 public:
  explicit TZTLCheckProviderEdit(TCollection* Collection);
  void Assign(TPersistent* Source) override;

  bool Required() const { return FRequired; }
  void SetRequired(bool Value) { FRequired = Value; }

 protected:
  bool HintMustBeStored() const override;
  void InternalCheck() override;

 private:
  bool FRequired = true;
};

// The edit rule, then the box's text as a number (the user's number format)
// within MinValue..MaxValue, both inclusive. A text that is no number, or an
// empty box with Required off, raises the conversion error.
class ZTL_API TZTLCheckProviderNumericEdit : public TZTLCheckProviderEdit {
  ZTL_DECLARE_CLASS(TZTLCheckProviderNumericEdit, TZTLCheckProviderEdit)

 public:
  explicit TZTLCheckProviderNumericEdit(TCollection* Collection);
  void Assign(TPersistent* Source) override;
  // Always the range with two decimals and the user's decimal separator;
  // HintText is stored and copied but not shown.
  String GetHintText() const override;

  double MinValue() const { return FMinValue; }
  void SetMinValue(double Value) { FMinValue = Value; }
  double MaxValue() const { return FMaxValue; }
  void SetMaxValue(double Value) { FMaxValue = Value; }

 protected:
  bool HintMustBeStored() const override;
  void InternalCheck() override;

 private:
  double FMinValue = 0;
  double FMaxValue = 0;
};

// Fails when Checked is set and its check box is not checked.
class ZTL_API TZTLCheckProviderCheckbox : public TZTLCheckProvider {
  ZTL_DECLARE_CLASS(TZTLCheckProviderCheckbox, TZTLCheckProvider)

 public:
  explicit TZTLCheckProviderCheckbox(TCollection* Collection);
  void Assign(TPersistent* Source) override;

  bool Checked() const { return FChecked; }
  void SetChecked(bool Value) { FChecked = Value; }

 protected:
  bool HintMustBeStored() const override;
  void InternalCheck() override;

 private:
  bool FChecked = true;
};

// Fails when Required is set and its combo box shows no text; typed text
// that is not among the items passes.
class ZTL_API TZTLCheckProviderCombobox : public TZTLCheckProvider {
  ZTL_DECLARE_CLASS(TZTLCheckProviderCombobox, TZTLCheckProvider)

 public:
  explicit TZTLCheckProviderCombobox(TCollection* Collection);
  void Assign(TPersistent* Source) override;

  bool Required() const { return FRequired; }
  void SetRequired(bool Value) { FRequired = Value; }

 protected:
  bool HintMustBeStored() const override;
  void InternalCheck() override;

 private:
  bool FRequired = true;
};

// The processor's providers, in checking order. Its item class is the base
// provider; a provider of another kind joins it by being constructed with the
// collection.
class ZTL_API TZTLCheckProviders : public TCollection {
  ZTL_DECLARE_CLASS(TZTLCheckProviders, TCollection)

 public:
  explicit TZTLCheckProviders(TComponent* AProcessor);

  // Appends a base provider.
  TZTLCheckProvider* Add();
  TZTLCheckProvider* Items(int Index) const { return GetCheckProvider(Index); }
  // Copies Value's settings into the existing item (which keeps its class).
  void SetItems(int Index, TZTLCheckProvider* Value) { SetCheckProvider(Index, Value); }
  TZTLCheckProvider* GetCheckProvider(int Index) const;
  void SetCheckProvider(int Index, TZTLCheckProvider* Value);
  // The owner of the providers' mark images.
  TComponent* Processor() const { return FProcessor; }

 protected:
  TPersistent* GetOwner() const override { return FProcessor; }

 private:
  TComponent* FProcessor;
};

// Validates the input controls of a form through its providers: Execute runs
// them in order, marks each failing control with a picture whose tooltip says
// what is wrong, focuses the first and beeps once.
//
//     auto* checks = new TZTLCheckProcessor(form);
//     auto* name = new TZTLCheckProviderEdit(checks->CheckProviders());
//     name->SetCheckControl(edtName);
//     name->SetRequired(true);
//     name->SetHintText("Please enter your name");
//     if (!checks->Execute()) return;        // the user corrects and tries again
//
// Main thread only.
class ZTL_API TZTLCheckProcessor : public TComponent {
  ZTL_DECLARE_CLASS(TZTLCheckProcessor, TComponent)

 public:
  // Loads the built-in mark "ZTL_FAILED" of the library's module into
  // DefaultPicture (magenta transparent); raises EResNotFound without it.
  explicit TZTLCheckProcessor(TComponent* AOwner);
  // Frees the providers (and their marks) first, then the default picture.
  ~TZTLCheckProcessor() override;

  // Checks every provider and marks the failures; true when none failed.
  // What a check raises propagates, before any mark is placed.
  bool Execute();
  // Runs every provider's check in index order.
  void CheckAllProviders();
  // The providers whose status is csFailed; runs no check.
  int FailedCount() const;
  // Places or hides every provider's mark, focuses the first failing control
  // that may and can take the focus, and beeps once (BeepOnError).
  void HighlightFailed();

  TPicture* DefaultPicture() const { return FDefaultPicture.get(); }
  // Copies Value into the owned picture.
  void SetDefaultPicture(TPicture* Value);
  bool BeepOnError() const { return FBeepOnError; }
  void SetBeepOnError(bool Value) { FBeepOnError = Value; }
  TZTLCheckProviders* CheckProviders() const { return FCheckProviders.get(); }
  // Runs the owned collection's Assign: base providers with Value's common
  // settings.
  void SetCheckProviders(TZTLCheckProviders* Value);

 private:
  bool DefaultPictureStored() const;

  std::unique_ptr<TPicture> FDefaultPicture;
  std::unique_ptr<TZTLCheckProviders> FCheckProviders;
  bool FBeepOnError = true;
};

}  // namespace ztl
