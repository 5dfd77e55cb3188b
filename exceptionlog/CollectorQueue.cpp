#include <ztlogger/exceptionlog/CollectorQueue.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <ztlogger/exceptionlog/CollectorEnvelope.h>
#include <ztlogger/platform/os/Prefix.h>
#include <ztlogger/platform/os/SpoolFiles.h>
#include <ztlogger/platform/os/Windows.h>
#include <ztlogger/platform/rtl/Exceptions.h>

namespace ztl {

namespace {

constexpr std::string_view kEntryExtension = ".envelope";

std::atomic<uint32_t> serial{0};

size_t PutDigits(uint64_t value, int width, char* out) {
  for (int i = width - 1; i >= 0; --i, value /= 10) out[i] = static_cast<char>('0' + value % 10);
  return static_cast<size_t>(width);
}

bool IsEntry(const String& name) {
  return name.size() > kEntryExtension.size() && name.front() != '.' && name.ends_with(kEntryExtension);
}

}  // namespace

TEnvelopeQueue::TEnvelopeQueue(const String& Folder, size_t MaxCount, uint64_t MaxBytes)
    : FFolder(Folder), FMaxCount(MaxCount), FMaxBytes(MaxBytes) {
  if (!os::CreatePrivateFolder(FFolder)) throw EFCreateError("Cannot create the collector queue " + FFolder);
}

String TEnvelopeQueue::FolderFor(const TCollectorDsn& Dsn) {
  return os::PlatformPrefix() + "/collector/" + Dsn.ProjectId + "-" + Dsn.PublicKey;
}

size_t TEnvelopeQueue::FormatEntryName(int64_t Milliseconds, uint32_t Process, uint32_t Serial, char* out) {
  size_t length = PutDigits(static_cast<uint64_t>(std::max<int64_t>(Milliseconds, 0)), 16, out);
  out[length++] = '-';
  length += PutDigits(Process, 10, out + length);
  out[length++] = '-';
  length += PutDigits(Serial, 10, out + length);
  for (char c : kEntryExtension) out[length++] = c;
  return length;
}

size_t TEnvelopeQueue::Put(std::string_view Envelope) { return PutAll({Envelope}); }

size_t TEnvelopeQueue::PutAll(const std::vector<std::string_view>& Envelopes) {
  std::vector<String> finalPaths, tempPaths;
  std::vector<os::TFilePart> parts;
  finalPaths.reserve(Envelopes.size());
  tempPaths.reserve(Envelopes.size());
  parts.reserve(Envelopes.size());
  std::vector<os::TSpoolFile> files;
  for (std::string_view envelope : Envelopes) {
    char name[kMaxEntryName];
    const size_t length =
        FormatEntryName(collector::NowMilliseconds(), GetCurrentProcessId(), serial.fetch_add(1), name);
    finalPaths.push_back(FFolder + "/" + String(name, length));
    tempPaths.push_back(FFolder + "/." + String(name, length) + ".part");
    parts.push_back({envelope.data(), envelope.size()});
    files.push_back({tempPaths.back().c_str(), finalPaths.back().c_str(), &parts.back(), 1});
  }
  const bool allWritten = os::WritePrivateFiles(files.data(), files.size()) == files.size();
  const size_t dropped = Trim();
  if (!allWritten) throw EFCreateError("Cannot write to the collector queue " + FFolder);
  return dropped;
}

size_t TEnvelopeQueue::Trim() {
  // The bound: the oldest go first.
  std::vector<String> entries = Entries();
  std::vector<uint64_t> sizes;
  uint64_t total = 0;
  for (const String& entry : entries) {
    std::error_code error;
    const uint64_t size = std::filesystem::file_size(FFolder + "/" + entry, error);
    sizes.push_back(error ? 0 : size);
    total += sizes.back();
  }
  size_t dropped = 0;
  for (size_t i = 0; i < entries.size() && (entries.size() - i > FMaxCount || total > FMaxBytes); ++i) {
    Remove(entries[i]);
    total -= sizes[i];
    ++dropped;
  }
  return dropped;
}

std::vector<String> TEnvelopeQueue::Entries() const {
  std::vector<String> entries;
  std::error_code error;
  for (const auto& item : std::filesystem::directory_iterator(FFolder, error)) {
    String name = item.path().filename().string();
    if (IsEntry(name)) entries.push_back(std::move(name));
  }
  std::sort(entries.begin(), entries.end());
  return entries;
}

String TEnvelopeQueue::Read(const String& Entry) const {
  std::ifstream file(FFolder + "/" + Entry, std::ios::binary);
  return String(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void TEnvelopeQueue::Remove(const String& Entry) const {
  std::error_code error;
  std::filesystem::remove(FFolder + "/" + Entry, error);
}

}  // namespace ztl
