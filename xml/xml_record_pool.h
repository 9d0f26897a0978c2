// The memory of one document's element and attribute records. A large document holds about a
// million of them; taking them from blocks instead of the general allocator makes loading and
// freeing much cheaper. Freed records are kept for reuse, so editing a tree does not grow it.
// A pool belongs to one document and, like the document, is used by one thread at a time.
#pragma once
#include <array>
#include <cstddef>

class XmlRecordPool {
 public:
  XmlRecordPool() = default;
  XmlRecordPool(const XmlRecordPool&) = delete;
  XmlRecordPool& operator=(const XmlRecordPool&) = delete;
  ~XmlRecordPool();  // returns every block; records must have been destroyed

  // Storage for one record of `size` bytes (at most kLargestRecord), aligned for any
  // fundamental type; null when no memory is left.
  void* Allocate(size_t size);
  // Gives back a record that Allocate handed out with the same size.
  void Free(void* record, size_t size);

  // Storage for `size` bytes of text: up to kLargestRecord from the record classes, more from
  // the general allocator. Null when no memory is left.
  void* AllocateBytes(size_t size);
  // Gives back what AllocateBytes handed out for the same size.
  void FreeBytes(void* bytes, size_t size);

  static constexpr size_t kLargestRecord = 256;

 private:
  static constexpr size_t kGrain = alignof(std::max_align_t);
  static size_t SizeClass(size_t size) { return (size + kGrain - 1) / kGrain; }
  bool AddBlock(size_t atLeast);

  struct FreeRecord {
    FreeRecord* next;
  };
  struct Block {
    Block* previous;
  };
  std::array<FreeRecord*, kLargestRecord / kGrain + 1> m_free{};
  Block* m_blocks = nullptr;
  char* m_next = nullptr;  // unused space of the newest block
  char* m_end = nullptr;
  size_t m_nextBlockSize = 1024;
};
