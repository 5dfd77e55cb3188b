#include <gtest/gtest.h>

#include "tests/platform/classes/Model.h"
#include <ztlogger/platform/classes/Component.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl::test {
namespace {

// Records the notifications it hears.
class TListener : public TComponent {
  ZTL_DECLARE_CLASS(TListener, TComponent)

 public:
  using TComponent::TComponent;
  std::vector<std::pair<TComponent*, TOperation>> heard;

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override {
    TComponent::Notification(AComponent, Operation);
    heard.emplace_back(AComponent, Operation);
  }
};

}  // namespace
}  // namespace ztl::test

#include <ztlogger/platform/classes/ClassBuilder.h>
namespace ztl::test {
ZTL_DEFINE_CLASS(TListener, TComponent)
namespace {

TEST(ComponentOwnership, OwnerFreesWhatItOwnsAndDeleteRemovesFromOwner) {
  auto* owner = new TComponent(nullptr);
  auto* a = new TWidget(owner);
  auto* b = new TWidget(owner);
  EXPECT_EQ(owner->ComponentCount(), 2);
  EXPECT_EQ(a->Owner(), owner);
  EXPECT_EQ(b->ComponentIndex(), 1);
  delete a;
  EXPECT_EQ(owner->ComponentCount(), 1);
  EXPECT_EQ(owner->Components(0), b);
  delete owner;  // frees b; ASan reports a leak or double free otherwise
}

TEST(ComponentNames, MustBeIdentifiersAndUniqueAmongSiblings) {
  TComponent owner(nullptr);
  auto* a = new TWidget(&owner);
  auto* b = new TWidget(&owner);
  a->SetName("Alpha");
  EXPECT_THROW(b->SetName("alpha"), EComponentError);
  EXPECT_THROW(b->SetName("1abc"), EComponentError);
  EXPECT_THROW(b->SetName("a b"), EComponentError);
  b->SetName("Beta_2");
  EXPECT_EQ(owner.FindComponent("ALPHA"), a);
  EXPECT_EQ(owner.FindComponent("beta_2"), b);
  EXPECT_EQ(owner.FindComponent(""), nullptr);
  a->SetName("");
  EXPECT_EQ(owner.FindComponent("Alpha"), nullptr);
}

TEST(ComponentNotifications, FreeNotificationArrivesBeforeTheOtherIsFreed) {
  TComponent ownerA(nullptr);
  TComponent ownerB(nullptr);
  auto* listener = new TListener(&ownerA);
  auto* watched = new TWidget(&ownerB);
  watched->FreeNotification(listener);
  delete watched;
  ASSERT_EQ(listener->heard.size(), 1u);
  EXPECT_EQ(listener->heard[0].first, watched);
  EXPECT_EQ(listener->heard[0].second, opRemove);
}

TEST(ComponentNotifications, ReferenceIsClearedWhenTheBuddyGoes) {
  TComponent ownerA(nullptr);
  auto* a = new TWidget(&ownerA);
  auto* b = new TWidget(nullptr);
  a->SetBuddy(b);
  delete b;
  EXPECT_EQ(a->Buddy(), nullptr);
  // And the other way round: the watcher going first leaves no dangling link.
  auto* c = new TWidget(nullptr);
  a->SetBuddy(c);
  delete a;
  delete c;
}

TEST(ComponentNotifications, SiblingsHearOfInsertionAndRemoval) {
  TComponent owner(nullptr);
  auto* listener = new TListener(&owner);
  auto* w = new TWidget(&owner);
  delete w;
  ASSERT_EQ(listener->heard.size(), 2u);
  EXPECT_EQ(listener->heard[0].second, opInsert);
  EXPECT_EQ(listener->heard[1].second, opRemove);
}

TEST(ComponentState, DesigningPassesToOwnedComponents) {
  TComponent owner(nullptr);
  auto* w = new TWidget(&owner);
  owner.SetDesigning(true);
  EXPECT_TRUE(w->ComponentState().Contains(csDesigning));
  auto* later = new TWidget(&owner);
  EXPECT_TRUE(later->ComponentState().Contains(csDesigning));
  owner.SetDesigning(false);
  EXPECT_FALSE(w->ComponentState().Contains(csDesigning));
}

TEST(Metaclasses, VirtualConstructorAndIsATests) {
  TComponent owner(nullptr);
  TObject* made = TWidget::StaticClass()->Create(&owner);
  auto* widget = dynamic_cast<TWidget*>(made);
  ASSERT_NE(widget, nullptr);
  EXPECT_EQ(widget->Owner(), &owner);
  EXPECT_EQ(widget->ClassName(), "TWidget");
  EXPECT_TRUE(widget->Is<TComponent>());
  EXPECT_TRUE(widget->Is<TPersistent>());
  EXPECT_FALSE(widget->Is<TCollection>());
  EXPECT_THROW(TStrings::StaticClass()->Create(), EAbstractError);
  EXPECT_EQ(TStringList::StaticClass()->ClassParent(), TStrings::StaticClass());
}

TEST(Metaclasses, ClassRegistryFindsByNameIgnoringCase) {
  RegisterModel();
  EXPECT_EQ(GetClass("twidget"), TWidget::StaticClass());
  EXPECT_EQ(GetClass("TNoSuchThing"), nullptr);
  EXPECT_THROW(FindClass("TNoSuchThing"), EClassNotFound);
}

TEST(Persistent, AssignOfAnUnsupportedSourceRaisesTheAssignmentError) {
  TSettings settings;
  TStringList list;
  try {
    settings.Assign(&list);
    FAIL() << "no exception";
  } catch (const EConvertError& e) {
    EXPECT_EQ(e.Message(), "Cannot assign a TStringList to a TSettings");
  }
  EXPECT_THROW(settings.Assign(nullptr), EConvertError);
  TSettings other;
  other.SetTitle("copy");
  other.Files()->Add("x");
  settings.Assign(&other);
  EXPECT_EQ(settings.Title(), "copy");
  EXPECT_EQ(settings.Files()->Text(), "x\r\n");
}

TEST(Sets, BitsFollowTheElementOrder) {
  TColorKinds s{ckRed, ckBlue};
  EXPECT_EQ(s.Bits(), 5u);
  EXPECT_TRUE(s.Contains(ckBlue));
  s.Exclude(ckRed).Include(ckGreen);
  EXPECT_EQ(s.Bits(), 6u);
  EXPECT_EQ(TColorKinds::All().Bits(), 7u);
  EXPECT_EQ(TColorKinds::FromBits(0xFF), TColorKinds::All());
  EXPECT_EQ(SetToString(EnumTypeInfo(ckRed), s.Bits()), "[ckGreen,ckBlue]");
  EXPECT_EQ(StringToSet(EnumTypeInfo(ckRed), "[ckRed, ckblue]"), 5u);
  EXPECT_THROW(StringToSet(EnumTypeInfo(ckRed), "[ckPink]"), EPropertyError);
}

TEST(MethodReferences, CompareByObjectAndMethodAndCallOnlyWhenAssigned) {
  TPanelRoot a(nullptr);
  TPanelRoot b(nullptr);
  TNotifyEvent none;
  EXPECT_FALSE(none.Assigned());
  auto pingA = MakeMethod<&TPanelRoot::PingHandler>(&a);
  auto pingA2 = MakeMethod<&TPanelRoot::PingHandler>(&a);
  auto otherA = MakeMethod<&TPanelRoot::OtherHandler>(&a);
  auto pingB = MakeMethod<&TPanelRoot::PingHandler>(&b);
  EXPECT_EQ(pingA, pingA2);
  EXPECT_FALSE(pingA == otherA);
  EXPECT_FALSE(pingA == pingB);
  TNotifyEvent event = pingA;
  event(&b);
  ASSERT_EQ(a.pinged.size(), 1u);
  EXPECT_EQ(a.pinged[0], &b);
  EXPECT_EQ(TNotifyEvent::FromMethod(event.Method()), pingA);
}

TEST(PropertyLookup, ByNameReadsAndWritesEveryKind) {
  TComponent owner(nullptr);
  auto* w = new TWidget(&owner);
  SetOrdProp(w, "Count", 42);
  EXPECT_EQ(w->Count(), 42);
  SetStrProp(w, "Caption", "hello");
  EXPECT_EQ(GetStrProp(w, "caption"), "hello");
  SetEnumProp(w, "Color", "ckBlue");
  EXPECT_EQ(w->Color(), ckBlue);
  EXPECT_EQ(GetEnumProp(w, "Color"), "ckBlue");
  EXPECT_EQ(GetEnumName(*GetPropInfo(w, "Color")->EnumInfo, 0), "ckRed");
  EXPECT_EQ(GetOrdProp(w, "Colors"), 5);
  SetFloatProp(w, "Ratio", 0.25);
  EXPECT_DOUBLE_EQ(w->Ratio(), 0.25);
  EXPECT_EQ(GetObjectProp(w, "Settings"), w->Settings());
  EXPECT_EQ(GetPropInfo(w, "NoSuch"), nullptr);
  EXPECT_THROW(GetStrProp(w, "NoSuch"), EPropertyError);
  EXPECT_THROW(GetStrProp(w, "Count"), EPropertyError);
  EXPECT_THROW(SetObjectProp(w, "Settings", nullptr), EPropReadOnly);
  EXPECT_THROW(SetEnumProp(w, "Color", "ckPink"), EPropertyError);
  // Inherited properties come first.
  EXPECT_EQ(TWidget::StaticClass()->Properties()[0]->Name, "Name");
}

}  // namespace
}  // namespace ztl::test
