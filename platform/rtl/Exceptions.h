#pragma once
// The framework's exception classes.
//
// Exceptions are thrown by value and caught by reference to a class of this
// hierarchy (catch (const Exception& e)). Every class carries a metaclass, so
// the class name and is-a tests work as for any framework object.
#include <exception>

#include "platform/rtl/Object.h"

namespace ztl {

class Exception : public TObject, public std::exception {
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
#define ZTL_DECLARE_EXCEPTION(Name, Parent) \
  class Name : public Parent {              \
    ZTL_DECLARE_CLASS(Name, Parent)         \
   public:                                  \
    using Parent::Parent;                   \
  };

ZTL_DECLARE_EXCEPTION(EAbort, Exception)
ZTL_DECLARE_EXCEPTION(EHeapException, Exception)
ZTL_DECLARE_EXCEPTION(EOutOfMemory, EHeapException)
ZTL_DECLARE_EXCEPTION(EInvalidPointer, EHeapException)
ZTL_DECLARE_EXCEPTION(EOutOfResources, EOutOfMemory)
ZTL_DECLARE_EXCEPTION(EInOutError, Exception)

// Hardware and processor exceptions.
ZTL_DECLARE_EXCEPTION(EExternal, Exception)
ZTL_DECLARE_EXCEPTION(EIntError, EExternal)
ZTL_DECLARE_EXCEPTION(EDivByZero, EIntError)
ZTL_DECLARE_EXCEPTION(ERangeError, EIntError)
ZTL_DECLARE_EXCEPTION(EIntOverflow, EIntError)
ZTL_DECLARE_EXCEPTION(EMathError, EExternal)
ZTL_DECLARE_EXCEPTION(EInvalidOp, EMathError)
ZTL_DECLARE_EXCEPTION(EZeroDivide, EMathError)
ZTL_DECLARE_EXCEPTION(EOverflow, EMathError)
ZTL_DECLARE_EXCEPTION(EUnderflow, EMathError)
ZTL_DECLARE_EXCEPTION(EAccessViolation, EExternal)
ZTL_DECLARE_EXCEPTION(EPrivilege, EExternal)
ZTL_DECLARE_EXCEPTION(EStackOverflow, EExternal)
ZTL_DECLARE_EXCEPTION(EControlC, EExternal)
ZTL_DECLARE_EXCEPTION(EExternalException, EExternal)

ZTL_DECLARE_EXCEPTION(EInvalidCast, Exception)
ZTL_DECLARE_EXCEPTION(EConvertError, Exception)
ZTL_DECLARE_EXCEPTION(EVariantError, Exception)
ZTL_DECLARE_EXCEPTION(EPropertyError, Exception)
ZTL_DECLARE_EXCEPTION(EPropReadOnly, Exception)
ZTL_DECLARE_EXCEPTION(EPropWriteOnly, Exception)
ZTL_DECLARE_EXCEPTION(EAssertionFailed, Exception)
ZTL_DECLARE_EXCEPTION(EAbstractError, Exception)
ZTL_DECLARE_EXCEPTION(EIntfCastError, Exception)
ZTL_DECLARE_EXCEPTION(EInvalidContainer, Exception)
ZTL_DECLARE_EXCEPTION(EInvalidInsert, Exception)
ZTL_DECLARE_EXCEPTION(EPackageError, Exception)

// A failed operating-system call: the system's message and its error code.
class EOSError : public Exception {
  ZTL_DECLARE_CLASS(EOSError, Exception)

 public:
  explicit EOSError(String message = {}, uint32_t errorCode = 0) : Exception(std::move(message)), errorCode_(errorCode) {}
  uint32_t ErrorCode() const { return errorCode_; }
  void SetErrorCode(uint32_t value) { errorCode_ = value; }

 private:
  uint32_t errorCode_;
};
ZTL_DECLARE_EXCEPTION(EWin32Error, EOSError)

// Streams, files and stored forms.
ZTL_DECLARE_EXCEPTION(EStreamError, Exception)
ZTL_DECLARE_EXCEPTION(EFCreateError, EStreamError)
ZTL_DECLARE_EXCEPTION(EFOpenError, EStreamError)
ZTL_DECLARE_EXCEPTION(EFilerError, EStreamError)
ZTL_DECLARE_EXCEPTION(EReadError, EFilerError)
ZTL_DECLARE_EXCEPTION(EWriteError, EFilerError)
ZTL_DECLARE_EXCEPTION(EClassNotFound, EFilerError)
ZTL_DECLARE_EXCEPTION(EMethodNotFound, EFilerError)
ZTL_DECLARE_EXCEPTION(EInvalidImage, EFilerError)
ZTL_DECLARE_EXCEPTION(EResNotFound, Exception)
ZTL_DECLARE_EXCEPTION(EListError, Exception)
ZTL_DECLARE_EXCEPTION(EBitsError, Exception)
ZTL_DECLARE_EXCEPTION(EStringListError, Exception)
ZTL_DECLARE_EXCEPTION(EComponentError, Exception)
ZTL_DECLARE_EXCEPTION(EParserError, Exception)
ZTL_DECLARE_EXCEPTION(EInvalidOperation, Exception)
ZTL_DECLARE_EXCEPTION(EThread, Exception)

// Graphics.
ZTL_DECLARE_EXCEPTION(EInvalidGraphic, Exception)
ZTL_DECLARE_EXCEPTION(EInvalidGraphicOperation, Exception)

}  // namespace ztl
