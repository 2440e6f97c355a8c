// Every document of the shared corpus and of the test-document writer, cut
// short at many lengths and with its length fields corrupted one at a time,
// passed to every entry point that takes a memory image with nothing
// readable after its last byte: no fault, only the results the entry point
// may give, nothing left allocated, every block the size its header says.
// A failing case is saved under /tmp/hostile_case_*.psd.
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <map>

#include "hostile_support.h"

namespace hostile {
namespace {

// Corpus documents up to this size are swept (larger ones take long to
// decode at every length and add little).
const size_t kCorpusLimit = 192 * 1024;
// Every corrupted field means whole decodes: a smaller limit here.
const size_t kCorpusCorruptLimit = 64 * 1024;

// The document's requests (merged picture, layers, listing) from a file
// holding its bytes give what they give from memory.
void FileMatchesMemory(const uint8_t* data, size_t size, Outcome* out) {
  static const std::string path = fuzzcheck::DocumentFilePath();
  if (!fuzzcheck::WriteDocumentFile(path, data, size)) {
    out->failures.push_back("cannot write " + path);
    return;
  }
  for (uint32_t entry = 0; entry <= 4; ++entry) {
    for (uint32_t flags : {0u, uint32_t{kListFlag}}) {
      if (flags != 0 && entry != 0) continue;
      const std::string differs =
          fuzzcheck::FileDiffersFromMemory(data, size, path, entry, flags);
      if (!differs.empty()) out->failures.push_back("from a file: " + differs);
    }
  }
  remove(path.c_str());
}

// The document's pictures (merged or composited, and its first layers)
// split into bands on `threads` threads are the bytes of one thread.
void ThreadsMatchOne(const uint8_t* data, size_t size, uint32_t threads,
                     Outcome* out) {
  for (uint32_t entry = 0; entry <= 3; ++entry) {
    const std::string differs =
        fuzzcheck::ThreadsDifferFromOne(data, size, entry, 0, threads);
    if (!differs.empty()) out->failures.push_back("threads: " + differs);
  }
}

struct Sweep {
  size_t cases = 0;
  size_t failures = 0;
  std::map<std::string, uint64_t> digests;  // case -> digest
  bool keep_digests = false;
  size_t seen = 0;
  const size_t every = SampleEvery();

  // Whether the next case is one the sample runs (nothing is copied or
  // named for the others).
  bool Take() { return seen++ % every == 0; }

  void Run(const std::string& name, const Bytes& doc) {
    if (Take()) Check(name, doc.data(), doc.size());
  }

  void Check(const std::string& name, const uint8_t* data, size_t size) {
    ++cases;
    const ExactImage image(data, size);
    Outcome out = RunEntryPoints(image);
    // One case in sixteen from a file too, and one in eight on several
    // threads: the same results and blocks.
    if (cases % 16 == 0) FileMatchesMemory(data, size, &out);
    if (cases % 8 == 3) ThreadsMatchOne(data, size, 3, &out);
    if (keep_digests) digests[name] = out.digest.value;
    if (out.failures.empty()) return;
    ++failures;
    if (failures <= 10) {
      const std::string path =
          "/tmp/hostile_case_" + std::to_string(failures) + ".psd";
      std::ofstream(path, std::ios::binary)
          .write(reinterpret_cast<const char*>(data),
                 static_cast<std::streamsize>(size));
      std::string all;
      for (const std::string& f : out.failures) all += "\n  " + f;
      ADD_FAILURE() << name << " (saved as " << path << "):" << all;
    }
  }

  // Every length up to `every`, then `spread` more lengths evenly over the
  // rest of the document.
  void Truncations(const std::string& name, const Bytes& doc, size_t every,
                   size_t spread) {
    const size_t first = std::min(every, doc.size());
    for (size_t cut = 0; cut < first; ++cut) {
      if (Take())
        Check(name + " cut at " + std::to_string(cut), doc.data(), cut);
    }
    if (doc.size() > first && spread > 0) {
      const size_t step = std::max<size_t>(1, (doc.size() - first) / spread);
      for (size_t cut = first; cut < doc.size(); cut += step) {
        if (Take()) {
          Check(name + " cut at " + std::to_string(cut), doc.data(), cut);
        }
      }
    }
  }

  // Each length field in turn set to values around and far from its own;
  // `few` keeps the most telling of them.
  void Corruptions(const std::string& name, const Bytes& doc,
                   bool few = false) {
    for (const Field& f : LengthFields(doc)) {
      uint32_t old = 0;
      for (uint32_t i = 0; i < f.width; ++i) old = old << 8 | doc[f.offset + i];
      const uint32_t rest = static_cast<uint32_t>(doc.size() - f.offset);
      std::vector<uint32_t> values = {
          0,           1,           old - 1,    old + 1,
          old + 2,     old * 2 + 7, rest,       rest - f.width,
          0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu};
      if (f.width == 2) {
        values = {0,      1,      old - 1, old + 1, old * 2 + 1,
                  0x7FFF, 0x8000, 0xFFFF,  0xFFFE,  0x0101};
      }
      if (few) {
        values = f.width == 2
                     ? std::vector<uint32_t>{0, old + 1, 0x8000, 0xFFFF}
                     : std::vector<uint32_t>{0,    old - 1,     old + 1,
                                             rest, 0x80000000u, 0xFFFFFFFFu};
      }
      for (uint32_t v : values) {
        if (!Take()) continue;
        Bytes bad = doc;
        for (uint32_t i = 0; i < f.width; ++i) {
          bad[f.offset + i] =
              static_cast<uint8_t>(v >> (8 * (f.width - 1 - i)));
        }
        if (bad == doc) continue;
        char label[160];
        snprintf(label, sizeof label, " %s at %zu = %u", f.what, f.offset, v);
        Check(name + label, bad.data(), bad.size());
      }
    }
  }
};

class SweepTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { SendLogToNowhere(); }
};

// The longest sweeps are split in two so that both halves run at once:
// every other writer document, cut at every length or with its length
// fields corrupted.
void SweepWriterDocuments(size_t half, bool cut) {
  Sweep sweep;
  const auto docs = WriterDocuments();
  ASSERT_GT(docs.size(), 20u) << "the test-document writer made no documents";
  for (size_t i = half; i < docs.size(); i += 2) {
    if (cut) {
      sweep.Truncations(docs[i].first, docs[i].second, 65536, 64);
    } else {
      sweep.Corruptions(docs[i].first, docs[i].second);
    }
  }
  EXPECT_EQ(sweep.failures, 0u) << "of " << sweep.cases << " cases";
  printf("%zu cases\n", sweep.cases);
}

TEST_F(SweepTest, WriterDocumentsCutAtEveryLengthFirstHalf) {
  SweepWriterDocuments(0, true);
}

TEST_F(SweepTest, WriterDocumentsCutAtEveryLengthSecondHalf) {
  SweepWriterDocuments(1, true);
}

TEST_F(SweepTest, WriterDocumentsWithCorruptLengthsFirstHalf) {
  SweepWriterDocuments(0, false);
}

TEST_F(SweepTest, WriterDocumentsWithCorruptLengthsSecondHalf) {
  SweepWriterDocuments(1, false);
}

TEST_F(SweepTest, CorpusDocumentsCutShort) {
  const auto docs = CorpusDocuments(kCorpusLimit);
  if (docs.empty()) GTEST_SKIP() << "the shared corpus is not there";
  Sweep sweep;
  for (const auto& [name, doc] : docs) {
    // Every length through the headers, sections and layer records (the
    // first 64 KiB at most), then a spread over the pixel data.
    sweep.Truncations(name, doc, std::min<size_t>(StructureEnd(doc), 4096), 24);
  }
  EXPECT_EQ(sweep.failures, 0u) << "of " << sweep.cases << " cases";
  printf("%zu cases over %zu documents\n", sweep.cases, docs.size());
}

void CorruptCorpus(size_t half) {
  const auto docs = CorpusDocuments(kCorpusCorruptLimit);
  if (docs.empty()) GTEST_SKIP() << "the shared corpus is not there";
  Sweep sweep;
  for (size_t i = half; i < docs.size(); i += 2) {
    sweep.Corruptions(docs[i].first, docs[i].second, true);
  }
  EXPECT_EQ(sweep.failures, 0u) << "of " << sweep.cases << " cases";
  printf("%zu cases over %zu documents\n", sweep.cases, docs.size() / 2);
}

TEST_F(SweepTest, CorpusDocumentsWithCorruptLengthsFirstHalf) {
  CorruptCorpus(0);
}

TEST_F(SweepTest, CorpusDocumentsWithCorruptLengthsSecondHalf) {
  CorruptCorpus(1);
}

// Clears the flag of the version information resource (1057) that says
// the document holds a merged picture, so that it is composited; false
// when it has none.
bool ClearMergedFlag(Bytes* doc) {
  auto big = [&](size_t at, int n) {
    uint32_t v = 0;
    for (int i = 0; i < n && at + i < doc->size(); ++i)
      v = v << 8 | (*doc)[at + i];
    return v;
  };
  size_t at = 26 + 4 + big(26, 4);
  const size_t end = at + 4 + big(at, 4);
  for (at += 4; at + 12 <= end && end <= doc->size();) {
    const size_t size_at = at + 6 + ((1 + (*doc)[at + 6] + 1) & ~size_t{1});
    const size_t data = size_at + 4, size = big(size_at, 4);
    if (big(at + 4, 2) == 1057 && size >= 5 && data + 5 <= end) {
      (*doc)[data + 4] = 0;
      return true;
    }
    at = data + ((size + 1) & ~size_t{1});
  }
  return false;
}

// Whole documents, their merged pictures (composited where the corpus
// document's merged picture is taken away) and first layers, on 2 and 5
// threads: the bytes of one thread.
TEST_F(SweepTest, ManyThreadsGiveTheBytesOfOne) {
  auto docs = WriterDocuments();
  for (const auto& [name, doc] : CorpusDocuments(2 << 20)) {
    docs.emplace_back(name, doc);
    Bytes copy = doc;
    if (ClearMergedFlag(&copy)) docs.emplace_back(name + " composited", copy);
  }
  size_t cases = 0, failures = 0, seen = 0;
  const size_t every = SampleEvery();
  for (const auto& [name, doc] : docs) {
    if (seen++ % every != 0) continue;
    for (uint32_t threads : {2u, 5u}) {
      Outcome out;
      ThreadsMatchOne(doc.data(), doc.size(), threads, &out);
      ++cases;
      for (const std::string& f : out.failures) {
        if (++failures <= 10) ADD_FAILURE() << name << ": " << f;
      }
    }
  }
  EXPECT_EQ(failures, 0u) << "of " << cases << " cases";
  printf("%zu cases over %zu documents\n", cases, docs.size());
}

// A file that another program shortens while it is read (here: at the
// first progress call, once the document is open) ends rows and sections
// where its bytes end; every request gives a result it may give, hands out
// blocks of the sizes their headers say, and leaves nothing behind.
struct Shrink {
  std::string path;
  size_t to;
};

int32_t WINAPI ShrinkAtStart(int32_t numerator, int32_t, intptr_t user) {
  const Shrink* s = reinterpret_cast<const Shrink*>(user);
  if (numerator == 0 && truncate(s->path.c_str(), s->to) != 0) perror("cut");
  return 0;
}

TEST_F(SweepTest, FilesThatShrinkWhileTheyAreRead) {
  const std::string path = fuzzcheck::DocumentFilePath();
  const std::u16string wide(path.begin(), path.end());
  size_t cases = 0;
  for (const auto& [name, doc] : WriterDocuments()) {
    for (size_t to : {size_t{0}, size_t{30}, doc.size() / 8, doc.size() / 2,
                      doc.size() - 1}) {
      for (uint32_t entry = 0; entry <= 2; ++entry) {
        ASSERT_TRUE(fuzzcheck::WriteDocumentFile(path, doc.data(), doc.size()));
        Shrink shrink = {path, to};
        HLOCAL header = nullptr, pixels = nullptr;
        DecodeRequest r =
            MemoryRequest(ExactImage(doc), entry, &header, &pixels);
        r.memory_image = nullptr;
        r.file_name = reinterpret_cast<const WCHAR*>(wide.c_str());
        r.flags = entry == 2 ? uint32_t{kListFlag} : 0u;
        r.progress = ShrinkAtStart;
        r.user_data = reinterpret_cast<intptr_t>(&shrink);
        const int32_t result = DecodePictureW(&r);
        ++cases;
        const std::string what = name + " cut to " + std::to_string(to) +
                                 " request " + std::to_string(entry);
        EXPECT_TRUE(result == 0 || result == 3 || result == 4 || result == 6 ||
                    (result == 8 && entry == 2))
            << what << ": result " << result;
        if (result == 0) {
          BITMAPINFOHEADER h;
          memcpy(&h, LocalLock(header), sizeof h);
          LocalUnlock(header);
          EXPECT_EQ(LocalSize(pixels), h.biSizeImage) << what;
        }
        if (result == 6) {
          EXPECT_TRUE(header == nullptr && pixels == nullptr) << what;
        }
        fuzzcheck::TouchBlock(header);
        fuzzcheck::TouchBlock(pixels);
        LocalFree(header);
        LocalFree(pixels);
        const PlatformCounts c = Counts();
        ASSERT_TRUE(c.local_blocks == 0 && c.heap_blocks == 0 &&
                    c.open_files == 0)
            << what << ": blocks or files left";
      }
    }
  }
  remove(path.c_str());
  printf("%zu cases\n", cases);
}

// Bytes the engine hands out must not depend on what the heap held before:
// the same sweep in two child processes whose allocator fills new blocks
// with different bytes must give the same outputs.
TEST_F(SweepTest, OutputDoesNotDependOnHeapContents) {
  const char* digest_file = getenv("HOSTILE_DIGEST_FILE");
  if (digest_file != nullptr) {
    // The child: a sweep of the writer's documents, one digest a case.
    Sweep sweep;
    sweep.keep_digests = true;
    for (const auto& [name, doc] : WriterDocuments()) {
      sweep.Run(name, doc);
      sweep.Truncations(name, doc, 0, 16);
      sweep.Corruptions(name, doc);
    }
    std::ofstream out(digest_file);
    for (const auto& [name, digest] : sweep.digests) {
      out << std::hex << digest << " " << name << "\n";
    }
    return;
  }
  std::string outputs[2];
  const char* fills[2] = {"0x11", "0xee"};
  for (int i = 0; i < 2; ++i) {
    const std::string file =
        "/tmp/hostile_digest_" + std::to_string(getpid()) + "_" + fills[i];
    const std::string command =
        std::string("HOSTILE_DIGEST_FILE=") + file +
        " ASAN_OPTIONS=malloc_fill_byte=" + std::to_string(i ? 0xee : 0x11) +
        ":max_malloc_fill_size=2147483647:allocator_may_return_null=1" +
        " MALLOC_PERTURB_=" + std::to_string(i ? 0x11 : 0xee) +
        " GLIBC_TUNABLES=glibc.malloc.perturb=" +
        std::to_string(i ? 0x11 : 0xee) + " /proc/" + std::to_string(getpid()) +
        "/exe" + " --gtest_filter=SweepTest.OutputDoesNotDependOnHeapContents" +
        " >/dev/null 2>&1";
    ASSERT_EQ(system(command.c_str()), 0) << command;
    std::ifstream in(file);
    std::stringstream s;
    s << in.rdbuf();
    outputs[i] = s.str();
    remove(file.c_str());
  }
  ASSERT_GT(outputs[0].size(), 1000u);
  if (outputs[0] != outputs[1]) {
    std::istringstream a(outputs[0]), b(outputs[1]);
    std::string la, lb;
    int shown = 0;
    while (std::getline(a, la) && std::getline(b, lb) && shown < 10) {
      if (la != lb) {
        ADD_FAILURE() << "undefined bytes handed out: " << la << " / " << lb;
        ++shown;
      }
    }
  }
}

}  // namespace
}  // namespace hostile
