#include "xml/xml_record_pool.h"

#include <algorithm>
#include <new>

namespace {
// Blocks double from 1 KiB, so a small document costs little, up to this size, so that the
// unused end of the newest block stays small beside a large document. Larger blocks would be
// mapped one by one by the allocator and fault in anew for every document.
constexpr size_t kLargestBlock = 64 * 1024;
}  // namespace

XmlRecordPool::~XmlRecordPool() {
  while (m_blocks != nullptr) {
    Block* previous = m_blocks->previous;
    ::operator delete(m_blocks);
    m_blocks = previous;
  }
}

void* XmlRecordPool::Allocate(size_t size) {
  if (size == 0 || size > kLargestRecord) return nullptr;
  const size_t sizeClass = SizeClass(size);
  if (FreeRecord* reused = m_free[sizeClass]) {
    m_free[sizeClass] = reused->next;
    return reused;
  }
  const size_t bytes = sizeClass * kGrain;
  if (static_cast<size_t>(m_end - m_next) < bytes && !AddBlock(bytes)) return nullptr;
  void* record = m_next;
  m_next += bytes;
  return record;
}

void XmlRecordPool::Free(void* record, size_t size) {
  if (record == nullptr) return;
  const size_t sizeClass = SizeClass(size);
  auto* freed = static_cast<FreeRecord*>(record);
  freed->next = m_free[sizeClass];
  m_free[sizeClass] = freed;
}

void* XmlRecordPool::AllocateBytes(size_t size) {
  if (size <= kLargestRecord) return Allocate(size == 0 ? 1 : size);
  return ::operator new(size, std::nothrow);
}

void XmlRecordPool::FreeBytes(void* bytes, size_t size) {
  if (bytes == nullptr) return;
  if (size <= kLargestRecord) return Free(bytes, size == 0 ? 1 : size);
  ::operator delete(bytes);
}

bool XmlRecordPool::AddBlock(size_t atLeast) {
  // The header takes one grain so that records stay aligned.
  const size_t size = std::max(m_nextBlockSize, atLeast + kGrain);
  auto* block = static_cast<Block*>(::operator new(size, std::nothrow));
  if (block == nullptr) return false;
  block->previous = m_blocks;
  m_blocks = block;
  m_next = reinterpret_cast<char*>(block) + kGrain;
  m_end = reinterpret_cast<char*>(block) + size;
  m_nextBlockSize = std::min(m_nextBlockSize * 2, kLargestBlock);
  return true;
}
