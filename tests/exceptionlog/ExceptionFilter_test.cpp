// The exception logger's class filter: which exceptions it processes, and the
// standard box for those it does not.
#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "tests/exceptionlog/ExceptionProcessing.h"
#include <ztlogger/exceptionlog/LogError.h>
#include <ztlogger/platform/rtl/ExceptionSupport.h>

namespace ztl {

// An application's own exception class, outside every filtered family.
ZTL_DECLARE_EXCEPTION(EOrderRejected, Exception)
ZTL_DEFINE_CLASS(EOrderRejected, Exception)

namespace {

using test::ExceptionProcessing;
using test::Raise;

// ---------------------------------------------------------------- the filter

struct FilterCase {
  const char* name;
  std::function<void()> raise;
  std::function<void(TZTExceptionLog&)> configure;
  bool processed;
};

class ExceptionFilter : public ExceptionProcessing, public ::testing::WithParamInterface<FilterCase> {};

template <typename E>
FilterCase Standard(const char* name, TZTExceptionStandard removed, bool processed) {
  return {name, Raise<E>(), [removed](TZTExceptionLog& l) {
            auto f = l.FilterStandard();
            f.Exclude(removed);
            l.SetFilterStandard(f);
          },
          processed};
}

template <typename E>
FilterCase Classes(const char* name, TZTExceptionClass removed, bool processed) {
  return {name, Raise<E>(), [removed](TZTExceptionLog& l) {
            auto f = l.FilterClasses();
            f.Exclude(removed);
            l.SetFilterClasses(f);
          },
          processed};
}

void ClearAllFilters(TZTExceptionLog& l) {
  l.SetFilterStandard({});
  l.SetFilterClasses({});
  l.SetFilterGraphics({});
}

TEST_P(ExceptionFilter, TheFirstMatchingClassDecides) {
  const FilterCase& c = GetParam();
  auto log = NewLog();
  c.configure(*log);
  RaiseInLoop(c.raise);
  EXPECT_EQ(LogExists(), c.processed);
  // A rejected exception gets the standard box instead.
  EXPECT_EQ(Shown().size(), c.processed ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Families, ExceptionFilter,
    ::testing::Values(
        Standard<EDivByZero>("DivByZeroWithoutItsOwnElement", efDivByZero, true),
        Standard<EDivByZero>("DivByZeroWithoutIntError", efIntError, false),
        Standard<ERangeError>("RangeErrorWithoutIntError", efIntError, false),
        Standard<ERangeError>("RangeErrorWithoutItsOwnElement", efRangeError, true),
        Standard<EIntOverflow>("IntOverflowWithoutIntError", efIntError, false),
        Standard<EInvalidOp>("InvalidOpWithoutMathError", efMathError, false),
        Standard<EZeroDivide>("ZeroDivideWithoutMathError", efMathError, false),
        Standard<EOverflow>("OverflowWithoutItsOwnElement", efOverflow, true),
        Standard<EUnderflow>("UnderflowWithoutMathError", efMathError, false),
        Standard<EOutOfResources>("OutOfResourcesWithoutOutOfMemory", efOutOfMemory, false),
        Classes<EOutOfResources>("OutOfResourcesWithoutItsOwnElement", efOutOfResources, true),
        Standard<EAccessViolation>("AccessViolationRemoved", efAccessViolation, false),
        Standard<EWin32Error>("Win32ErrorRemoved", efWin32Error, false),
        Classes<EFCreateError>("FCreateErrorWithoutStreamError", efStreamError, false),
        Classes<EFOpenError>("FOpenErrorWithoutItsOwnElement", efFOpenError, true),
        Classes<EFilerError>("FilerErrorWithoutStreamError", efStreamError, false),
        Classes<EReadError>("ReadErrorWithoutFilerError", efFilerError, true),
        Classes<EWriteError>("WriteErrorWithoutStreamError", efStreamError, false),
        Classes<EClassNotFound>("ClassNotFoundWithoutStreamError", efStreamError, false),
        Classes<EMethodNotFound>("MethodNotFoundWithoutStreamError", efStreamError, false),
        Classes<EInvalidImage>("InvalidImageWithoutStreamError", efStreamError, false),
        Classes<EInvalidOperation>("InvalidOperationRemoved", efInvalidOperation, false),
        FilterCase{"InvalidGraphicRemoved", Raise<EInvalidGraphic>(),
                   [](TZTExceptionLog& l) { l.SetFilterGraphics({efInvalidGraphicOperation}); }, false},
        FilterCase{"InvalidGraphicOperationKept", Raise<EInvalidGraphicOperation>(),
                   [](TZTExceptionLog& l) { l.SetFilterGraphics({efInvalidGraphicOperation}); }, true},
        FilterCase{"OwnClassWithEveryFilterEmpty", Raise<EOrderRejected>(), ClearAllFilters, true},
        FilterCase{"ForeignExceptionWithEveryFilterEmpty", [] { throw std::runtime_error("plain"); },
                   ClearAllFilters, true},
        FilterCase{"BaseExceptionClassWithEveryFilterEmpty", Raise<Exception>(), ClearAllFilters, true},
        FilterCase{"ExternalButNoneOfItsElements", Raise<EExternal>(), ClearAllFilters, true}),
    [](const ::testing::TestParamInfo<FilterCase>& info) { return String(info.param.name); });

}  // namespace
}  // namespace ztl
