#include <ztlogger/checks/ZTLChecks.h>

#include <ztlogger/platform/classes/ClassBuilder.h>
#include <ztlogger/platform/classes/Streams.h>
#include <ztlogger/platform/forms/Forms.h>
#include <ztlogger/platform/forms/StdCtrls.h>
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/FormatUtils.h>
#include <ztlogger/platform/rtl/ScopeExit.h>

namespace ztl {

namespace {

const char* const kBaseHint = "Check failed.";
const char* const kEmptyHint = "Editbox can not be empty";
const char* const kRangeHint = "Editbox must contain the value in range betwen %f and %f";
const char* const kCheckboxHint = "Checkbox must be checked";

// The built-in mark is a resource of this library's module.
const char* const kModule = "ztlogger";
const char* const kFailedMark = "ZTL_FAILED";

void LoadBuiltInMark(TBitmap& bitmap) {
  bitmap.LoadFromResourceName(kModule, kFailedMark);
  bitmap.SetTransparentColor(clFuchsia);
  bitmap.SetTransparent(true);
}

String PictureBytes(const TPicture& picture) {
  TMemoryStream stream;
  picture.SaveToStream(stream);
  String bytes(static_cast<size_t>(stream.Size()), '\0');
  stream.SetPosition(0);
  stream.ReadBuffer(bytes.data(), stream.Size());
  return bytes;
}

}  // namespace

// A component of the provider's own that asks the control and the mark image
// to tell it of their end, as a provider is no component and cannot ask.
class TZTLCheckProvider::TReferences : public TComponent {
 public:
  explicit TReferences(TZTLCheckProvider& provider) : TComponent(nullptr), FProvider(provider) {}

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    if (Operation != opRemove) return;
    if (AComponent == FProvider.FCheckControl) FProvider.FCheckControl = nullptr;
    if (AComponent == FProvider.FLinkedImage) FProvider.FLinkedImage = nullptr;
  }

 private:
  TZTLCheckProvider& FProvider;
};

// ---------------------------------------------------------------- providers

ZTL_BEGIN_CLASS(TZTLCheckProvider, TCollectionItem)
  .Property("Picture", &Self::Picture, &Self::SetPicture).Stored(&Self::PictureStored)
  .Property("CheckControl", &Self::CheckControl, &Self::SetCheckControl)
  .Property("HintText", &Self::HintText, &Self::SetHintText).Stored(&Self::HintMustBeStored)
  .Property("FocusOnError", &Self::FocusOnError, &Self::SetFocusOnError).Default(true)
  .Property("OnCheck", &Self::OnCheck, &Self::SetOnCheck)
ZTL_END_CLASS

TZTLCheckProvider::TZTLCheckProvider(TCollection* Collection)
    : TCollectionItem(Collection),
      FPicture(std::make_unique<TPicture>()),
      FHintText(kBaseHint),
      FReferences(std::make_unique<TReferences>(*this)) {}

TZTLCheckProvider::~TZTLCheckProvider() {
  // Its end tells FReferences, which clears FLinkedImage.
  delete FLinkedImage;
}

bool TZTLCheckProvider::PictureStored() const { return !FPicture->Empty(); }

void TZTLCheckProvider::SetPicture(TPicture* Value) { FPicture->Assign(Value); }

void TZTLCheckProvider::SetCheckControl(TControl* Value) {
  if (Value == FCheckControl) return;
  if (FCheckControl) FReferences->RemoveFreeNotification(FCheckControl);
  FCheckControl = Value;
  if (FCheckControl) FCheckControl->FreeNotification(FReferences.get());
}

void TZTLCheckProvider::ExecuteCheck() {
  InternalCheck();
  if (FLinkedImage) FLinkedImage->Picture()->SetGraphic(nullptr);
  if (FOnCheck) FOnCheck(this);
}

void TZTLCheckProvider::CreateLinkedImage(TPicture* defPicture) {
  if (!FLinkedImage && FCheckStatus != csFailed) return;
  auto* providers = dynamic_cast<TZTLCheckProviders*>(Collection());
  TComponent* processor = providers ? providers->Processor() : nullptr;
  if (!FCheckControl || (!FLinkedImage && !processor)) {
    // Nowhere to place a mark: an old one no longer stands for anything.
    if (FLinkedImage) FLinkedImage->SetVisible(false);
    return;
  }
  if (!FLinkedImage) {
    FLinkedImage = new TImage(processor);
    FLinkedImage->FreeNotification(FReferences.get());
  }
  auto* ownBitmap = dynamic_cast<TBitmap*>(FPicture->Graphic());
  if (ownBitmap && !ownBitmap->Empty())
    FLinkedImage->SetPicture(FPicture.get());
  else if (defPicture)
    FLinkedImage->SetPicture(defPicture);
  else
    FLinkedImage->Picture()->SetGraphic(nullptr);
  FLinkedImage->SetTransparent(true);
  FLinkedImage->SetAutoSize(true);
  FLinkedImage->SetShowHint(true);
  FLinkedImage->SetParent(FCheckControl->Parent());
  FLinkedImage->SetBounds(FCheckControl->Left() + FCheckControl->Width() + 5, FCheckControl->Top(),
                          FLinkedImage->Width(), FLinkedImage->Height());
  FLinkedImage->SetVisible(FCheckStatus == csFailed);
  FLinkedImage->SetHint(GetHintText());
}

String TZTLCheckProvider::GetHintText() const { return FHintText; }

void TZTLCheckProvider::Assign(TPersistent* Source) {
  auto* source = dynamic_cast<TZTLCheckProvider*>(Source);
  if (!source) return TCollectionItem::Assign(Source);
  TCollection* collection = Collection();
  if (collection) collection->BeginUpdate();
  ScopeExit endUpdate([collection] {
    if (collection) collection->EndUpdate();
  });
  SetPicture(source->Picture());
  SetCheckControl(source->CheckControl());
  SetHintText(source->HintText());
  SetFocusOnError(source->FocusOnError());
}

bool TZTLCheckProvider::HintMustBeStored() const { return FHintText != kBaseHint; }

void TZTLCheckProvider::InternalCheck() { FCheckStatus = csValid; }

ZTL_BEGIN_CLASS(TZTLCheckProviderEdit, TZTLCheckProvider)
  .Property("Required", &Self::Required, &Self::SetRequired).Default(true)
ZTL_END_CLASS

TZTLCheckProviderEdit::TZTLCheckProviderEdit(TCollection* Collection) : TZTLCheckProvider(Collection) {
  SetHintText(kEmptyHint);
}

void TZTLCheckProviderEdit::Assign(TPersistent* Source) {
  TZTLCheckProvider::Assign(Source);
  if (auto* source = dynamic_cast<TZTLCheckProviderEdit*>(Source)) FRequired = source->FRequired;
}

bool TZTLCheckProviderEdit::HintMustBeStored() const { return HintText() != kEmptyHint; }

void TZTLCheckProviderEdit::InternalCheck() {
  TZTLCheckProvider::InternalCheck();
  if (!FRequired) return;
  if (auto* edit = dynamic_cast<TCustomEdit*>(CheckControl()); edit && edit->Text().empty()) SetCheckStatus(csFailed);
}

ZTL_BEGIN_CLASS(TZTLCheckProviderNumericEdit, TZTLCheckProviderEdit)
  .Property("MinValue", &Self::MinValue, &Self::SetMinValue).Property("MaxValue", &Self::MaxValue, &Self::SetMaxValue)
ZTL_END_CLASS

TZTLCheckProviderNumericEdit::TZTLCheckProviderNumericEdit(TCollection* Collection)
    : TZTLCheckProviderEdit(Collection) {
  SetHintText(kRangeHint);
}

void TZTLCheckProviderNumericEdit::Assign(TPersistent* Source) {
  TZTLCheckProviderEdit::Assign(Source);
  if (auto* source = dynamic_cast<TZTLCheckProviderNumericEdit*>(Source)) {
    FMinValue = source->FMinValue;
    FMaxValue = source->FMaxValue;
  }
}

String TZTLCheckProviderNumericEdit::GetHintText() const { return Format(kRangeHint, {FMinValue, FMaxValue}); }

bool TZTLCheckProviderNumericEdit::HintMustBeStored() const { return HintText() != kRangeHint; }

void TZTLCheckProviderNumericEdit::InternalCheck() {
  TZTLCheckProviderEdit::InternalCheck();
  auto* edit = dynamic_cast<TCustomEdit*>(CheckControl());
  if (!edit || CheckStatus() == csFailed) return;
  const double value = StrToFloat(edit->Text());
  if (value < FMinValue || value > FMaxValue) SetCheckStatus(csFailed);
}

ZTL_BEGIN_CLASS(TZTLCheckProviderCheckbox, TZTLCheckProvider)
  .Property("Checked", &Self::Checked, &Self::SetChecked).Default(true)
ZTL_END_CLASS

TZTLCheckProviderCheckbox::TZTLCheckProviderCheckbox(TCollection* Collection) : TZTLCheckProvider(Collection) {
  SetHintText(kCheckboxHint);
}

void TZTLCheckProviderCheckbox::Assign(TPersistent* Source) {
  TZTLCheckProvider::Assign(Source);
  if (auto* source = dynamic_cast<TZTLCheckProviderCheckbox*>(Source)) FChecked = source->FChecked;
}

bool TZTLCheckProviderCheckbox::HintMustBeStored() const { return HintText() != kCheckboxHint; }

void TZTLCheckProviderCheckbox::InternalCheck() {
  TZTLCheckProvider::InternalCheck();
  if (auto* box = dynamic_cast<TCheckBox*>(CheckControl()); box && FChecked && !box->Checked())
    SetCheckStatus(csFailed);
}

ZTL_BEGIN_CLASS(TZTLCheckProviderCombobox, TZTLCheckProvider)
  .Property("Required", &Self::Required, &Self::SetRequired).Default(true)
ZTL_END_CLASS

TZTLCheckProviderCombobox::TZTLCheckProviderCombobox(TCollection* Collection) : TZTLCheckProvider(Collection) {
  SetHintText(kEmptyHint);
}

void TZTLCheckProviderCombobox::Assign(TPersistent* Source) {
  TZTLCheckProvider::Assign(Source);
  if (auto* source = dynamic_cast<TZTLCheckProviderCombobox*>(Source)) FRequired = source->FRequired;
}

bool TZTLCheckProviderCombobox::HintMustBeStored() const { return HintText() != kEmptyHint; }

void TZTLCheckProviderCombobox::InternalCheck() {
  TZTLCheckProvider::InternalCheck();
  if (auto* box = dynamic_cast<TComboBox*>(CheckControl()); box && FRequired && box->Text().empty())
    SetCheckStatus(csFailed);
}

// ---------------------------------------------------------------- collection

ZTL_DEFINE_CLASS(TZTLCheckProviders, TCollection)

TZTLCheckProviders::TZTLCheckProviders(TComponent* AProcessor)
    : TCollection(TZTLCheckProvider::StaticClass()), FProcessor(AProcessor) {}

TZTLCheckProvider* TZTLCheckProviders::Add() { return static_cast<TZTLCheckProvider*>(TCollection::Add()); }

TZTLCheckProvider* TZTLCheckProviders::GetCheckProvider(int Index) const {
  return static_cast<TZTLCheckProvider*>(TCollection::Items(Index));
}

void TZTLCheckProviders::SetCheckProvider(int Index, TZTLCheckProvider* Value) {
  GetCheckProvider(Index)->Assign(Value);
}

// ---------------------------------------------------------------- processor

ZTL_BEGIN_CLASS(TZTLCheckProcessor, TComponent)
  .Property("DefaultPicture", &Self::DefaultPicture, &Self::SetDefaultPicture)
      .Stored(&Self::DefaultPictureStored)
      .Property("BeepOnError", &Self::BeepOnError, &Self::SetBeepOnError)
      .Default(true)
      .Property("CheckProviders", &Self::CheckProviders, &Self::SetCheckProviders)
ZTL_END_CLASS

TZTLCheckProcessor::TZTLCheckProcessor(TComponent* AOwner)
    : TComponent(AOwner), FDefaultPicture(std::make_unique<TPicture>()) {
  LoadBuiltInMark(*FDefaultPicture->Bitmap());
  FCheckProviders = std::make_unique<TZTLCheckProviders>(this);
}

TZTLCheckProcessor::~TZTLCheckProcessor() {
  FCheckProviders.reset();
  FDefaultPicture.reset();
}

bool TZTLCheckProcessor::Execute() {
  CheckAllProviders();
  const int failed = FailedCount();
  if (failed > 0) HighlightFailed();
  return failed == 0;
}

void TZTLCheckProcessor::CheckAllProviders() {
  for (int i = 0; i < FCheckProviders->Count(); ++i) FCheckProviders->Items(i)->ExecuteCheck();
}

int TZTLCheckProcessor::FailedCount() const {
  int failed = 0;
  for (int i = 0; i < FCheckProviders->Count(); ++i)
    if (FCheckProviders->Items(i)->CheckStatus() == csFailed) ++failed;
  return failed;
}

void TZTLCheckProcessor::HighlightFailed() {
  bool focused = false;
  bool beeped = false;
  for (int i = 0; i < FCheckProviders->Count(); ++i) {
    TZTLCheckProvider* provider = FCheckProviders->Items(i);
    provider->CreateLinkedImage(FDefaultPicture.get());
    if (provider->CheckStatus() != csFailed) continue;
    if (provider->FocusOnError() && !focused) {
      // Focusing a control of a hidden or disabled form would raise: such a
      // control cannot take the focus now.
      auto* control = dynamic_cast<TWinControl*>(provider->CheckControl());
      if (control && control->CanFocus() && GetParentForm(control)->CanFocus()) {
        control->SetFocus();
        focused = true;
      }
    }
    if (FBeepOnError && !beeped) {
      MessageBeep(MB_ICONHAND);
      beeped = true;
    }
  }
}

void TZTLCheckProcessor::SetDefaultPicture(TPicture* Value) { FDefaultPicture->Assign(Value); }

void TZTLCheckProcessor::SetCheckProviders(TZTLCheckProviders* Value) { FCheckProviders->Assign(Value); }

bool TZTLCheckProcessor::DefaultPictureStored() const {
  TPicture builtIn;
  LoadBuiltInMark(*builtIn.Bitmap());
  return PictureBytes(*FDefaultPicture) != PictureBytes(builtIn);
}

namespace {
const bool registered = [] {
  RegisterClass(TZTLCheckProcessor::StaticClass());
  RegisterClass(TZTLCheckProvider::StaticClass());
  RegisterClass(TZTLCheckProviderEdit::StaticClass());
  RegisterClass(TZTLCheckProviderNumericEdit::StaticClass());
  RegisterClass(TZTLCheckProviderCheckbox::StaticClass());
  RegisterClass(TZTLCheckProviderCombobox::StaticClass());
  return true;
}();
}  // namespace

}  // namespace ztl
