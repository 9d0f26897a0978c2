// Memory of a load: the bytes held through operator new stay proportional to the tree built,
// never a copy of the file. This executable replaces the global operator new and delete to
// count the live bytes and their peak.
#include <atomic>
#include <cstdlib>
#include <new>
#include <string>

#include "xml/tu_xml_tree.h"
#include "xml/xml_records.h"
#include "xml_test_support.h"

namespace {

std::atomic<long long> g_live{0};
std::atomic<long long> g_peak{0};

// Each block carries its size in a header of the strictest fundamental alignment.
constexpr size_t kHeader = alignof(std::max_align_t);

void* Allocate(size_t size) {
  void* block = std::malloc(size + kHeader);
  if (block == nullptr) return nullptr;
  *static_cast<size_t*>(block) = size;
  const long long live =
      g_live.fetch_add(static_cast<long long>(size)) + static_cast<long long>(size);
  long long peak = g_peak.load();
  while (live > peak && !g_peak.compare_exchange_weak(peak, live)) {
  }
  return static_cast<char*>(block) + kHeader;
}

void Release(void* pointer) {
  if (pointer == nullptr) return;
  void* block = static_cast<char*>(pointer) - kHeader;
  g_live.fetch_sub(static_cast<long long>(*static_cast<size_t*>(block)));
  std::free(block);
}

}  // namespace

void* operator new(size_t size) {
  if (void* p = Allocate(size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void* operator new(size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void* operator new[](size_t size, const std::nothrow_t&) noexcept { return Allocate(size); }
void operator delete(void* p) noexcept { Release(p); }
void operator delete[](void* p) noexcept { Release(p); }
void operator delete(void* p, size_t) noexcept { Release(p); }
void operator delete[](void* p, size_t) noexcept { Release(p); }

namespace {

class XmlMemoryTest : public XmlTest {
 protected:
  struct Measure {
    long long peakDuringLoad;  // above the bytes live before the load
    long long heldAfterLoad;
  };

  // Loads `path` into `tree` and measures the bytes it took.
  static Measure Load(TuXMLTree& tree, const std::string& path, bool trim) {
    const long long before = g_live.load();
    g_peak.store(before);
    EXPECT_TRUE(tree.LoadFile(path, trim, false));
    return Measure{g_peak.load() - before, g_live.load() - before};
  }
};

TEST_F(XmlMemoryTest, SmallTreeFromALargeFileTakesLittleMemory) {
  // Eight megabytes of comments around a handful of elements.
  std::string text = "<r>\n";
  const std::string filler = "<!-- " + std::string(1000, 'c') + " -->\n";
  while (text.size() < 8u << 20) text += filler;
  text += "  <a>kept</a>\n</r>\n";
  const std::string path = WriteFile("big.xml", text);

  for (bool trim : {false, true}) {
    TuXMLTree tree;
    const Measure m = Load(tree, path, trim);
    // Without the trim flag the line feeds beside the children are held until the root ends.
    EXPECT_LT(m.peakDuringLoad, (trim ? 8 : 40) << 10) << "trim " << trim;
    EXPECT_LT(m.heldAfterLoad, 4 << 10);
    EXPECT_EQ(S(tree.FindNode("r/a").GetText()), "kept");
  }
}

TEST_F(XmlMemoryTest, TrimFlagNeverHoldsIndentation) {
  std::string text = "<r>\n";
  const std::string child = std::string(2000, ' ') + "<a/>\n";
  while (text.size() < 4u << 20) text += child;
  text += "</r>\n";
  const std::string path = WriteFile("indented.xml", text);
  const long long children = static_cast<long long>(text.size() / child.size());

  TuXMLTree tree;
  const Measure m = Load(tree, path, true);
  const long long perChild = static_cast<long long>(sizeof(XmlElement)) + 64;
  EXPECT_LT(m.heldAfterLoad, children * perChild);
  EXPECT_LT(m.peakDuringLoad - m.heldAfterLoad, 8 << 10);
}

TEST_F(XmlMemoryTest, TextHeavyFileHoldsOneCopyOfItsText) {
  constexpr long long kElements = 8000;
  constexpr size_t kTextBytes = 1000;
  std::string text = "<r>\n";
  const std::string value(kTextBytes, 'v');
  for (long long i = 0; i < kElements; ++i) text += "<e>" + value + "</e>\n";
  text += "</r>\n";
  const std::string path = WriteFile("texts.xml", text);

  TuXMLTree tree;
  const Measure m = Load(tree, path, false);
  // Each element holds its record and its text with little spare room; the file is never held.
  const long long perElement = static_cast<long long>(sizeof(XmlElement) + kTextBytes) + 128;
  EXPECT_LT(m.heldAfterLoad, kElements * perElement);
  EXPECT_LT(m.peakDuringLoad - m.heldAfterLoad, 64 << 10);
  EXPECT_EQ(tree.GetRoot().Record()->childCount, kElements);
}

TEST_F(XmlMemoryTest, EditingReusesTheRecordsOfDeletedElements) {
  TuXMLTree tree;
  ASSERT_TRUE(tree.CreateNew());
  const TuXMLNode root = tree.CreateRoot("r");
  auto addAndDelete = [&] {
    for (int i = 0; i < 500; ++i) root.AddChild("c").SetAttribute("a", "v");
    EXPECT_TRUE(root.RemoveChildren("c"));
  };
  addAndDelete();
  const long long settled = g_live.load();
  for (int round = 0; round < 20; ++round) addAndDelete();
  EXPECT_EQ(g_live.load(), settled);

  // Replacing texts gives their storage back, short ones to the pool and long ones to the heap.
  const TuXMLNode child = root.AddChild("t");
  for (const size_t size : {10u, 200u, 5000u}) child.SetText(std::string(size, 'x'), false);
  const long long withTexts = g_live.load();
  for (int round = 0; round < 20; ++round) {
    for (const size_t size : {10u, 200u, 5000u}) child.SetText(std::string(size, 'y'), false);
  }
  EXPECT_EQ(g_live.load(), withTexts);
  EXPECT_EQ(S(child.GetText()), std::string(5000, 'y'));
}

TEST_F(XmlMemoryTest, TextInManyPiecesIsWholeAndHeldOnce) {
  // Every entity reference hands the text over in another piece.
  std::string text = "<r><e>";
  std::string expected;
  for (int i = 0; i < 20000; ++i) {
    text += "ab&amp;";
    expected += "ab&";
  }
  text += "</e></r>";
  const std::string path = WriteFile("pieces.xml", text);
  TuXMLTree tree;
  const Measure m = Load(tree, path, true);
  EXPECT_EQ(S(tree.FindNode("r/e").GetText()), expected);
  EXPECT_LT(m.heldAfterLoad, static_cast<long long>(expected.size()) + (4 << 10));
}

}  // namespace
