#include "platform/rtl/SyncObjs.h"

#include "platform/classes/ClassBuilder.h"

namespace ztl {

ZTL_DEFINE_CLASS(TCriticalSection, TObject)

TCriticalSection::TCriticalSection() { InitializeCriticalSection(&section_); }

TCriticalSection::~TCriticalSection() { DeleteCriticalSection(&section_); }

void TCriticalSection::Acquire() { EnterCriticalSection(&section_); }

void TCriticalSection::Release() { LeaveCriticalSection(&section_); }

bool TCriticalSection::TryEnter() { return TryEnterCriticalSection(&section_) != FALSE; }

}  // namespace ztl
