#pragma once
// Texts and constants shared by the log components.
// Any thread may read them.
#include <ztlogger/platform/rtl/Export.h>
#include <ztlogger/platform/rtl/Types.h>

namespace ztl {

// The log file name a new component starts with.
extern ZTL_API const char* const DefaultLogFileName;
// The body template of a mail with the log; its two %s take the recipients
// and the log file's path.
extern ZTL_API const char* const DefaultEMailBody;
// The three lines that open an XML log, each with CR LF.
extern ZTL_API const char* const XMLLogHeader;
extern ZTL_API const char* const XMLLogClosingTag;

}  // namespace ztl
