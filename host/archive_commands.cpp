// list, fileinfo and extract: an archive plug-in's listing, one entry's
// record, and the entries extracted into a folder by the plug-in or as
// memory blocks that psdhost writes.
#include <stdio.h>
#include <string.h>

#include <string>
#include <vector>

#include "host/commands.h"
#include "host/host_files.h"
#include "host/listing.h"
#include "host/progress.h"
#include "host/thread_count.h"

namespace {

// GetArchiveInfo for one document. Prints the result line on failure.
bool GetListing(const Plugin& plugin, GetArchiveInfoFn get_archive_info,
                const Source& source, std::vector<ListingEntry>* entries) {
  if (!source.narrow_usable()) {
    NotAnsiError(source.path, "--memory passes the document's bytes instead");
    return false;
  }
  Block listing(plugin);
  int32_t result = get_archive_info(source.source(), source.size(),
                                    source.mode(), listing.slot());
  if (result != 0) {
    printf("%s: GetArchiveInfo%s result %d\n", source.path.c_str(),
           source.label(), result);
    return false;
  }
  if (listing.empty()) {
    printf("%s: GetArchiveInfo%s result 0 without a listing\n",
           source.path.c_str(), source.label());
    return false;
  }
  std::string error;
  size_t size = listing.size();
  bool ok = ReadListing(listing.Lock(), size, entries, &error);
  listing.Unlock();
  if (!ok) printf("%s: %s\n", source.path.c_str(), error.c_str());
  return ok;
}

// The entries asked for, at most `limit` of them spread from the first to
// the last.
bool ChooseEntries(const std::vector<ListingEntry>& entries,
                   const std::vector<std::string>& selectors, size_t limit,
                   std::vector<size_t>* selected, std::string* error) {
  if (!SelectEntries(entries, selectors, selected, error)) return false;
  if (limit > 0 && selected->size() > limit) {
    std::vector<size_t> spread;
    for (size_t k : SpreadSelection(selected->size(), limit)) {
      spread.push_back((*selected)[k]);
    }
    selected->swap(spread);
  }
  return true;
}

// Writes the block an entry came back as into the folder; ends the entry's
// line.
int WriteEntryBlock(const ListingEntry& entry, Block* block,
                    const std::string& directory) {
  if (block->empty()) {
    printf(", no block\n");
    return 1;
  }
  if (!IsPlainFileName(entry.name)) {
    printf(", block of %zu bytes not written: unusable name\n", block->size());
    return 1;
  }
  size_t size = block->size();
  const uint8_t* bytes = block->Lock();
  bool written = WriteWholeFile(directory + "/" + entry.name, {{bytes, size}});
  block->Unlock();
  printf(", block of %zu bytes -> %s\n", size,
         EscapeBytes(entry.name.data(), entry.name.size()).c_str());
  return written ? 0 : 1;
}

// Finds the file the plug-in wrote for an entry, which it names itself:
// ".dat" for an entry without pixels, so both are looked for. Ends the
// entry's line.
void ShowWrittenFile(const ListingEntry& entry, const std::string& directory) {
  const std::string& base = entry.name;
  std::vector<std::string> names = {base};
  if (base.size() > 4) {
    std::string stem = base.substr(0, base.size() - 4);
    std::string ext = base.substr(base.size() - 4);
    names.push_back(stem + (ext == ".dat" ? ".bmp" : ".dat"));
  }
  for (const std::string& name : names) {
    if (!IsPlainFileName(name)) continue;
    long long size = FileSize(directory + "/" + name);
    if (size >= 0) {
      printf(", file %s %lld bytes\n",
             EscapeBytes(name.data(), name.size()).c_str(), size);
      return;
    }
  }
  printf(", no file written\n");
}

// GetFile for one entry into the folder or as a block.
// `source` and `ansi_directory` are the names in the ANSI code page, as
// GetFile takes them.
int ExtractEntry(const Plugin& plugin, GetFileFn get_file, const Source& source,
                 const ListingEntry& entry, const std::string& directory,
                 const std::string& ansi_directory, bool memory_output) {
  ProgressLog progress;
  intptr_t token = StartProgress(&progress);
  Block block(plugin);
  std::string destination = ansi_directory;
  LPSTR target =
      memory_output ? reinterpret_cast<LPSTR>(block.slot()) : &destination[0];
  NoteThreadsBefore();
  int32_t result = get_file(
      source.source(), static_cast<intptr_t>(entry.entry_number), target,
      memory_output ? kOutputMemory : kOutputDirectory, &RecordProgress, token);
  if (!NoThreadLeft("GetFile", entry.unpacked_size)) return 1;
  printf("  %llu %s: result %d, progress %s",
         static_cast<unsigned long long>(entry.entry_number),
         EscapeBytes(entry.name.data(), entry.name.size()).c_str(), result,
         DescribeProgress(progress).c_str());
  if (result != 0) {
    printf("\n");
    return 1;
  }
  if (memory_output) return WriteEntryBlock(entry, &block, directory);
  ShowWrittenFile(entry, directory);
  return 0;
}

int ExtractDocument(const Plugin& plugin, GetArchiveInfoFn get_archive_info,
                    GetFileFn get_file, const std::string& path,
                    const std::vector<std::string>& selectors,
                    const std::string& directory, bool memory_output,
                    size_t limit) {
  Source source;
  std::vector<ListingEntry> entries;
  if (!source.Load(path, false)) return 1;
  if (!source.ansi_exact) {
    NotAnsiError(path, "GetFile has no other way to take the document");
    return 1;
  }
  // The plug-in writes into the folder by its ANSI name; psdhost writes
  // blocks by any name.
  std::string ansi_directory;
  if (!AnsiName(directory, &ansi_directory) && !memory_output) {
    NotAnsiError(directory, "--memory-output has psdhost write the entries");
    return 1;
  }
  if (!GetListing(plugin, get_archive_info, source, &entries)) return 1;
  std::vector<size_t> selected;
  std::string error;
  if (!ChooseEntries(entries, selectors, limit, &selected, &error)) {
    Error(path + ": " + error);
    return 1;
  }
  if (!MakeDirectory(directory)) return 1;
  printf("%s: extracting %zu of %zu entries into %s (%s)\n", path.c_str(),
         selected.size(), entries.size(), directory.c_str(),
         memory_output ? "memory output" : "file output");
  bool show_progress = selected.size() > 20 && StderrIsTerminal();
  int status = 0;
  for (size_t k = 0; k < selected.size(); ++k) {
    if (show_progress) {
      fprintf(stderr, "\rextracting %zu/%zu", k + 1, selected.size());
      fflush(stderr);
    }
    if (ExtractEntry(plugin, get_file, source, entries[selected[k]], directory,
                     ansi_directory, memory_output) != 0) {
      status = 1;
    }
  }
  if (show_progress) fprintf(stderr, "\n");
  return status;
}

}  // namespace

int CommandList(const Plugin& plugin, const Arguments& args) {
  GetArchiveInfoFn get_archive_info = nullptr;
  if (!CheckInterface(plugin, "00AM", "list") ||
      !Export(plugin, "GetArchiveInfo", &get_archive_info)) {
    return 2;
  }
  return ForEachFile(args, "list", [&](const std::string& path) {
    Source source;
    std::vector<ListingEntry> entries;
    if (!source.Load(path, args.memory) ||
        !GetListing(plugin, get_archive_info, source, &entries)) {
      return false;
    }
    printf("%s", FormatListing(path + source.label(), entries).c_str());
    return true;
  });
}

int CommandFileInfo(const Plugin& plugin, const Arguments& args) {
  GetFileInfoFn get_file_info = nullptr;
  if (!CheckInterface(plugin, "00AM", "fileinfo") ||
      !Export(plugin, "GetFileInfo", &get_file_info)) {
    return 2;
  }
  if (args.positional.size() < 2) {
    Error("fileinfo needs FILE NAME...");
    return 2;
  }
  Source source;
  if (!source.Load(args.positional[0], args.memory)) return 1;
  if (!source.narrow_usable()) {
    NotAnsiError(source.path, "--memory passes the document's bytes instead");
    return 1;
  }
  int status = 0;
  for (size_t i = 1; i < args.positional.size(); ++i) {
    const std::string& name = args.positional[i];
    std::string ansi_name;
    if (!AnsiName(name, &ansi_name)) {
      NotAnsiError(name, "no entry can have this name");
      status = 1;
      continue;
    }
    ArchiveFileInfo record;
    memset(&record, 0xA5, sizeof(record));
    int32_t result = get_file_info(source.source(), source.size(),
                                   ansi_name.c_str(), source.mode(), &record);
    printf("%s%s %s: GetFileInfo result %d\n", source.path.c_str(),
           source.label(), name.c_str(), result);
    if (result == 0) {
      printf("%s", DescribeFileInfo(EntryFromRecord(record)).c_str());
    } else {
      status = 1;
    }
  }
  return status;
}

int CommandExtract(const Plugin& plugin, const Arguments& args) {
  GetArchiveInfoFn get_archive_info = nullptr;
  GetFileFn get_file = nullptr;
  if (!CheckInterface(plugin, "00AM", "extract") ||
      !Export(plugin, "GetArchiveInfo", &get_archive_info) ||
      !Export(plugin, "GetFile", &get_file)) {
    return 2;
  }
  if (args.positional.empty() || args.output.empty()) {
    Error("extract needs FILE [ENTRY...] -o DIR, or FILE... --batch -o DIR");
    return 2;
  }
  if (args.memory) {
    Error("extract reads the document by name; --memory is not offered");
    return 2;
  }
  if (!args.batch) {
    std::vector<std::string> selectors(args.positional.begin() + 1,
                                       args.positional.end());
    return ExtractDocument(plugin, get_archive_info, get_file,
                           args.positional[0], selectors, args.output,
                           args.memory_output, args.limit);
  }
  if (!MakeDirectory(args.output)) return 2;
  int status = 0;
  for (size_t i = 0; i < args.positional.size(); ++i) {
    std::string directory =
        args.output + "/" + BatchName(i, args.positional[i]);
    if (ExtractDocument(plugin, get_archive_info, get_file, args.positional[i],
                        {}, directory, args.memory_output, args.limit) != 0) {
      status = 1;
    }
  }
  return status;
}
