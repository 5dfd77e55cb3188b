#pragma once
// The framework's exception classes.
//
// Exceptions are thrown by value and caught by reference to a class of this
// hierarchy (catch (const Exception& e)). Every class carries a metaclass, so
// the class name and is-a tests work as for any framework object.
//
// Any thread; each exception object from one thread at a time.
#include <exception>

#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Object.h>

namespace ztl {

class ZTL_PLATFORM_API Exception : public TObject, public std::exception {
  ZTL_DECLARE_CLASS(Exception, TObject)

 public:
  explicit Exception(String message = {}) : message_(std::move(message)) {}

  const String& Message() const { return message_; }
  void SetMessage(const String& message) { message_ = message; }
  int HelpContext() const { return helpContext_; }
  void SetHelpContext(int value) { helpContext_ = value; }

  const char* what() const noexcept override { return message_.c_str(); }

 private:
  String message_;
  int helpContext_ = 0;
};

// Declares an exception class that takes its parent's constructors.
#define ZTL_DECLARE_EXCEPTION(Name, Parent) ZTL_DECLARE_EXCEPTION_IN(, Name, Parent)
// The same for an exception class a library exports: Api is its export macro.
#define ZTL_DECLARE_EXCEPTION_IN(Api, Name, Parent) \
  class Api Name : public Parent {                  \
    ZTL_DECLARE_CLASS(Name, Parent)                 \
   public:                                          \
    using Parent::Parent;                           \
  };

ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EAbort, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EHeapException, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EOutOfMemory, EHeapException)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EInvalidPointer, EHeapException)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EOutOfResources, EOutOfMemory)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EInOutError, Exception)

// Hardware and processor exceptions.
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EExternal, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EIntError, EExternal)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EDivByZero, EIntError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, ERangeError, EIntError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EIntOverflow, EIntError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EMathError, EExternal)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EInvalidOp, EMathError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EZeroDivide, EMathError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EOverflow, EMathError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EUnderflow, EMathError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EAccessViolation, EExternal)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EPrivilege, EExternal)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EStackOverflow, EExternal)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EControlC, EExternal)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EExternalException, EExternal)

ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EInvalidCast, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EConvertError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EVariantError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EPropertyError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EPropReadOnly, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EPropWriteOnly, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EAssertionFailed, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EAbstractError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EIntfCastError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EInvalidContainer, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EInvalidInsert, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EPackageError, Exception)

// A failed operating-system call: the system's message and its error code.
class ZTL_PLATFORM_API EOSError : public Exception {
  ZTL_DECLARE_CLASS(EOSError, Exception)

 public:
  explicit EOSError(String message = {}, uint32_t errorCode = 0) : Exception(std::move(message)), errorCode_(errorCode) {}
  uint32_t ErrorCode() const { return errorCode_; }
  void SetErrorCode(uint32_t value) { errorCode_ = value; }

 private:
  uint32_t errorCode_;
};
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EWin32Error, EOSError)

// Streams, files and stored forms.
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EStreamError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EFCreateError, EStreamError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EFOpenError, EStreamError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EFilerError, EStreamError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EReadError, EFilerError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EWriteError, EFilerError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EClassNotFound, EFilerError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EMethodNotFound, EFilerError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EInvalidImage, EFilerError)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EResNotFound, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EListError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EBitsError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EStringListError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EComponentError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EParserError, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EInvalidOperation, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EThread, Exception)

// Graphics.
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EInvalidGraphic, Exception)
ZTL_DECLARE_EXCEPTION_IN(ZTL_PLATFORM_API, EInvalidGraphicOperation, Exception)

}  // namespace ztl
