// The system's texts (see SystemTexts.h): one table from error code to
// text, in the system's own words. Relies on nothing but the codes.
#include <ztlogger/platform/os/messages/SystemTexts.h>

#include <ztlogger/platform/os/FileMapping.h>
#include <ztlogger/platform/os/WinConstants.h>
#include <ztlogger/platform/os/eventlog/Api.h>
#include <ztlogger/platform/os/eventlog/Syslog.h>
#include <ztlogger/platform/os/messages/Format.h>
#include <ztlogger/platform/os/messages/PeFile.h>

namespace ztl::os {
namespace {

struct SystemMessage {
  DWORD code;
  const char* text;
};

// The system's texts for the error codes the platform produces.
constexpr SystemMessage systemMessages[] = {
    {ERROR_SUCCESS, "The operation completed successfully."},
    {ERROR_INVALID_FUNCTION, "Incorrect function."},
    {ERROR_FILE_NOT_FOUND, "The system cannot find the file specified."},
    {ERROR_PATH_NOT_FOUND, "The system cannot find the path specified."},
    {ERROR_TOO_MANY_OPEN_FILES, "The system cannot open the file."},
    {ERROR_ACCESS_DENIED, "Access is denied."},
    {ERROR_INVALID_HANDLE, "The handle is invalid."},
    {ERROR_NOT_ENOUGH_MEMORY, "Not enough memory resources are available to process this command."},
    {ERROR_OUTOFMEMORY, "Not enough memory resources are available to complete this operation."},
    {ERROR_WRITE_PROTECT, "The media is write protected."},
    {ERROR_READ_FAULT, "The system cannot read from the specified device."},
    {ERROR_SHARING_VIOLATION, "The process cannot access the file because it is being used by another process."},
    {ERROR_LOCK_VIOLATION,
     "The process cannot access the file because another process has locked a portion of the file."},
    {ERROR_HANDLE_EOF, "Reached the end of the file."},
    {ERROR_NOT_SUPPORTED, "The request is not supported."},
    {ERROR_FILE_EXISTS, "The file exists."},
    {ERROR_INVALID_PARAMETER, "The parameter is incorrect."},
    {ERROR_BUFFER_OVERFLOW, "The file name is too long."},
    {ERROR_DISK_FULL, "There is not enough space on the disk."},
    {ERROR_INSUFFICIENT_BUFFER, "The data area passed to a system call is too small."},
    {ERROR_INVALID_NAME, "The filename, directory name, or volume label syntax is incorrect."},
    {ERROR_DIR_NOT_EMPTY, "The directory is not empty."},
    {ERROR_BAD_EXE_FORMAT, "%1 is not a valid Win32 application."},
    {ERROR_ALREADY_EXISTS, "Cannot create a file when that file already exists."},
    {ERROR_MORE_DATA, "More data is available."},
    {ERROR_NO_WORK_DONE, "Unable to perform a security operation on an object that has no associated security."},
    {ERROR_NO_MORE_ITEMS, "No more data is available."},
    {ERROR_DIRECTORY, "The directory name is invalid."},
    {ERROR_MR_MID_NOT_FOUND, "The system cannot find message text for message number 0x%1 in the message file for %2."},
    {ERROR_INVALID_ADDRESS, "Attempt to access invalid address."},
    {ERROR_FILE_INVALID,
     "The volume for a file has been externally altered so that the opened file is no longer valid."},
    {ERROR_MAPPED_ALIGNMENT, "The base address or the file offset specified does not have the proper alignment."},
    {ERROR_NOT_FOUND, "Element not found."},
    {ERROR_INVALID_SID, "The security ID structure is invalid."},
    {ERROR_EVENTLOG_FILE_CORRUPT, "The event log file is corrupted."},
    {ERROR_EVENTLOG_FILE_CHANGED, "The event log file has changed between read operations."},
    {RPC_S_SERVER_UNAVAILABLE, "The RPC server is unavailable."},
    {RPC_S_INVALID_BOUND, "The array bounds are invalid."},
    {WSAEWOULDBLOCK, "A non-blocking socket operation could not be completed immediately."},
    {WSAEMSGSIZE,
     "A message sent on a datagram socket was larger than the internal message buffer or some other network limit, "
     "or the buffer used to receive a datagram into was smaller than the datagram itself."},
    {WSAECONNREFUSED, "No connection could be made because the target machine actively refused it."},
    {ERROR_RESOURCE_DATA_NOT_FOUND, "The specified image file did not contain a resource section."},
    {ERROR_RESOURCE_TYPE_NOT_FOUND, "The specified resource type cannot be found in the image file."},
    {ERROR_RESOURCE_LANG_NOT_FOUND, "The specified resource language ID cannot be found in the image file."},
};

}  // namespace

const char* SystemMessageText(DWORD code) {
  for (const SystemMessage& m : systemMessages)
    if (m.code == code) return m.text;
  return nullptr;
}

}  // namespace ztl::os
