#include <gtest/gtest.h>

#include <memory>

#include "tests/platform/classes/Model.h"
#include <ztlogger/platform/classes/Bind.h>
#include <ztlogger/platform/classes/Filer.h>
#include <ztlogger/platform/classes/TypInfo.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl::test {
namespace {

class BoundEvents : public ::testing::Test {
 protected:
  void SetUp() override { RegisterModel(); }
};

// The token's use count tells whether the callable (its capture) still exists.
TEST_F(BoundEvents, LambdaRunsUntilItsOwnerIsFreedAndNeverAfter) {
  TWidget holder(nullptr);
  auto* owner = new TComponent(nullptr);
  auto token = std::make_shared<int>(0);
  std::vector<TObject*> senders;
  holder.SetOnPing(Bind(owner, [&senders, token](TObject* Sender) {
    ++*token;
    senders.push_back(Sender);
  }));
  TNotifyEvent copy = holder.OnPing();
  TMethod stored = GetMethodProp(&holder, "OnPing");
  holder.OnPing()(&holder);
  ASSERT_EQ(senders, std::vector<TObject*>{&holder});
  EXPECT_EQ(token.use_count(), 2);

  delete owner;  // drops the callable and its captures at once
  EXPECT_EQ(token.use_count(), 1);
  holder.OnPing()(&holder);
  copy(&holder);
  TNotifyEvent::FromMethod(stored)(&holder);
  EXPECT_EQ(senders.size(), 1u);
  EXPECT_EQ(*token, 1);
}

TEST_F(BoundEvents, HolderFreedFirstFreesTheCallableAndLeavesTheOwnerWhole) {
  TComponent owner(nullptr);
  auto token = std::make_shared<int>(0);
  {
    TWidget holder(nullptr);
    holder.SetOnPing(Bind(&owner, [token](TObject*) { ++*token; }));
    holder.OnPing()(&holder);
  }
  EXPECT_EQ(token.use_count(), 1);
  EXPECT_EQ(*token, 1);
  EXPECT_EQ(owner.ComponentCount(), 0);  // the binding is not one of owner's components
}

TEST_F(BoundEvents, HandlerFreeingItsOwnOwnerFinishesWithItsCaptures) {
  TWidget holder(nullptr);
  auto* owner = new TComponent(nullptr);
  auto text = std::make_shared<String>("still here");
  String seen;
  holder.SetOnPing(Bind(owner, [&, text](TObject*) {
    delete owner;
    seen = *text;
  }));
  holder.OnPing()(&holder);
  EXPECT_EQ(seen, "still here");
  EXPECT_EQ(text.use_count(), 1);
  holder.OnPing()(&holder);  // a no-op now: owner is gone
}

TEST_F(BoundEvents, ComparisonsNameTheBindingAndMembersStayAsBefore) {
  TPanelRoot root(nullptr);
  auto ping = [](TObject*) {};
  TNotifyEvent a = Bind(&root, ping);
  TNotifyEvent b = Bind(&root, ping);
  TNotifyEvent copy = a;
  EXPECT_TRUE(a.Assigned());
  EXPECT_EQ(a, copy);
  EXPECT_EQ(a, TNotifyEvent::FromMethod(a.Method()));
  EXPECT_FALSE(a == b);
  EXPECT_FALSE(a == MakeMethod<&TPanelRoot::PingHandler>(&root));
  EXPECT_EQ(MakeMethod<&TPanelRoot::PingHandler>(&root), MakeMethod<&TPanelRoot::PingHandler>(&root));
  EXPECT_THROW(Bind(nullptr, ping), EComponentError);
}

TEST_F(BoundEvents, StoredFormsLeaveBoundHandlersOut) {
  TPanelRoot root(nullptr);
  root.SetName("Root");
  auto* bound = new TWidget(&root);
  bound->SetName("W1");
  bound->SetOnPing(Bind(&root, [](TObject*) {}));
  auto* published = new TWidget(&root);
  published->SetName("W2");
  published->SetOnPing(MakeMethod<&TPanelRoot::PingHandler>(&root));
  EXPECT_EQ(ComponentToText(&root),
            "object Root: TPanelRoot\r\n"
            "  object W1: TWidget\r\n"
            "  end\r\n"
            "  object W2: TWidget\r\n"
            "    OnPing = PingHandler\r\n"
            "  end\r\n"
            "end\r\n");
}

}  // namespace
}  // namespace ztl::test
