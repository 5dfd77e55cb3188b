#include "platform/rtl/SyncObjs.h"

namespace ztl {

ZTL_DEFINE_PLAIN_CLASS(TCriticalSection, TObject)

TCriticalSection::TCriticalSection() = default;

TCriticalSection::~TCriticalSection() = default;

void TCriticalSection::Acquire() { mutex_.lock(); }

void TCriticalSection::Release() { mutex_.unlock(); }

bool TCriticalSection::TryEnter() { return mutex_.try_lock(); }

}  // namespace ztl
