#include "convert/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "convert/virtual_file_system.h"

namespace {

// A fresh folder below the system's temporary folder, removed at the end.
class TempFolder {
 public:
  TempFolder() {
    char pattern[] = "/tmp/trcforge_fs_XXXXXX";
    path_ = mkdtemp(pattern);
    path_ += '/';
  }
  ~TempFolder() {
    std::string command = "rm -rf '" + path_ + "'";
    if (system(command.c_str()) != 0) ADD_FAILURE() << "could not clean " << path_;
  }
  const std::string& path() const { return path_; }
  std::string at(const std::string& relative) const { return path_ + relative; }
  void write(const std::string& relative, const std::string& contents) const {
    std::ofstream(at(relative), std::ios::binary) << contents;
  }

 private:
  std::string path_;
};

FileSystemPtr make_fs(const std::string& root) {
  return FileSystemPtr(fs_new(root.data(), root.size()), fs_free);
}

bool query(FileSystem* fs, const std::string& path, EntryInfo* info) {
  return fs_query(fs, path.data(), path.size(), info);
}

std::vector<std::string> names(const FolderListing& listing) {
  std::vector<std::string> result;
  for (const auto& entry : listing) result.push_back(entry.first);
  return result;
}

TEST(FileSystemTest, NewNeedsAnExistingFolderEndingInSlash) {
  TempFolder temp;
  temp.write("plain", "x");
  std::string without_slash = temp.path().substr(0, temp.path().size() - 1);
  EXPECT_EQ(make_fs(without_slash), nullptr);
  EXPECT_EQ(make_fs(""), nullptr);
  EXPECT_EQ(make_fs(temp.at("plain/")), nullptr);
  EXPECT_EQ(make_fs(temp.at("missing/")), nullptr);
  FileSystemPtr fs = make_fs(temp.path());
  ASSERT_NE(fs, nullptr);
  EXPECT_EQ(fs->root, temp.path());
  EXPECT_EQ(fs->ops, &real_file_system_ops);
  fs_free(nullptr);  // accepted
}

TEST(FileSystemTest, QueryTellsKindsAndSizes) {
  TempFolder temp;
  temp.write("five", "12345");
  ASSERT_EQ(mkdir(temp.at("sub").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(temp.at("pipe").c_str(), 0600), 0);
  FileSystemPtr fs = make_fs(temp.path());
  EntryInfo info{ENTRY_OTHER, 77};

  ASSERT_TRUE(query(fs.get(), "five", &info));
  EXPECT_EQ(info.kind, ENTRY_FILE);
  EXPECT_EQ(info.size, 5);
  ASSERT_TRUE(query(fs.get(), "sub", &info));
  EXPECT_EQ(info.kind, ENTRY_FOLDER);
  EXPECT_EQ(info.size, 0);
  ASSERT_TRUE(query(fs.get(), "pipe", &info));
  EXPECT_EQ(info.kind, ENTRY_OTHER);
  ASSERT_TRUE(query(fs.get(), "nothing", &info));
  EXPECT_EQ(info.kind, ENTRY_MISSING);
  EXPECT_EQ(info.size, 0);

  // A path through a regular file is a failed query, not a missing entry,
  // and leaves the info untouched.
  info = EntryInfo{ENTRY_OTHER, 77};
  EXPECT_FALSE(query(fs.get(), "five/inside", &info));
  EXPECT_EQ(info.kind, ENTRY_OTHER);
  EXPECT_EQ(info.size, 77);

  EXPECT_FALSE(fs_query(nullptr, "five", 4, &info));
  EXPECT_FALSE(fs_query(fs.get(), "five", 4, nullptr));
  // Only the given length counts: "fivex" cut to four characters.
  ASSERT_TRUE(fs_query(fs.get(), "fivex", 4, &info));
  EXPECT_EQ(info.kind, ENTRY_FILE);
}

TEST(FileSystemTest, ListIsInByteOrderAndHoldsOnlyFilesAndFolders) {
  TempFolder temp;
  for (const char* name : {"B.txt", "a.txt", "10.txt", "9.txt", ".hidden.txt", "\xc3\xa9.txt", "z"}) {
    temp.write(name, name);
  }
  ASSERT_EQ(mkdir(temp.at("data.txt").c_str(), 0700), 0);
  ASSERT_EQ(mkfifo(temp.at("pipe").c_str(), 0600), 0);
  ASSERT_EQ(symlink("data.txt", temp.at("link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", temp.at("dangling").c_str()), 0);
  FileSystemPtr fs = make_fs(temp.path());

  FolderListing listing;
  fs_list(fs.get(), "", 0, &listing);
  // Bytes compare as unsigned: the two-byte name sorts after "z".
  EXPECT_EQ(names(listing),
            (std::vector<std::string>{".hidden.txt", "10.txt", "9.txt", "B.txt", "a.txt",
                                      "data.txt", "link", "z", "\xc3\xa9.txt"}));
  EXPECT_EQ(listing["B.txt"].kind, ENTRY_FILE);
  EXPECT_EQ(listing["B.txt"].size, 5);
  EXPECT_EQ(listing["data.txt"].kind, ENTRY_FOLDER);
  EXPECT_EQ(listing["link"].kind, ENTRY_FOLDER);  // links are followed

  // A folder path ending in "/" doubles the separator, which still works.
  temp.write("data.txt/inner", "");
  FolderListing inner;
  fs_list(fs.get(), "data.txt/", 9, &inner);
  EXPECT_EQ(names(inner), std::vector<std::string>{"inner"});

  FolderListing none;
  fs_list(fs.get(), "z", 1, &none);  // not a folder
  fs_list(fs.get(), "missing", 7, &none);
  fs_list(nullptr, "", 0, &none);
  EXPECT_TRUE(none.empty());
}

TEST(FileSystemTest, MakeFolderAcceptsAFolderAndRefusesAFile) {
  TempFolder temp;
  temp.write("taken", "keep me");
  FileSystemPtr fs = make_fs(temp.path());
  EXPECT_FALSE(fs_make_folder(fs.get(), "taken", 5));
  std::ifstream kept(temp.at("taken"));
  std::string text((std::istreambuf_iterator<char>(kept)), {});
  EXPECT_EQ(text, "keep me");

  EXPECT_TRUE(fs_make_folder(fs.get(), "new", 3));
  struct stat st;
  ASSERT_EQ(stat(temp.at("new").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0077, 0u);  // made with 0700
  EXPECT_TRUE(fs_make_folder(fs.get(), "new", 3));  // exists: accepted
  EXPECT_FALSE(fs_make_folder(fs.get(), "taken/sub", 9));  // query fails
  EXPECT_FALSE(fs_make_folder(fs.get(), "a/b", 3));  // parent missing: mkdir fails
}

TEST(FileSystemTest, MakeFoldersWalksTheComponents) {
  TempFolder temp;
  FileSystemPtr fs = make_fs(temp.path());
  EXPECT_TRUE(fs_make_folders(fs.get(), "/a//b/c/", 8));
  struct stat st;
  EXPECT_EQ(stat(temp.at("a/b/c").c_str(), &st), 0);
  EXPECT_TRUE(fs_make_folders(fs.get(), "", 0));  // nothing to make

  temp.write("a/file", "");
  EXPECT_FALSE(fs_make_folders(fs.get(), "a/file/d/e", 10));
  EXPECT_NE(stat(temp.at("a/file/d").c_str(), &st), 0);
}

TEST(FileSystemTest, MakeFoldersHandsAccumulatedTextsToMakeFolder) {
  VirtualFileSystem vfs("/out/");
  vfs.add_folder("logs_out");
  EXPECT_TRUE(fs_make_folders(&vfs, "logs_out/sub/deeper", 19));
  EXPECT_EQ(vfs.folders_made, (std::vector<std::string>{"logs_out/sub", "logs_out/sub/deeper"}));

  // Stops at the first failure.
  vfs.folders_made.clear();
  vfs.inject_fault(VfsFault::kMakeFolder, "x/y");
  EXPECT_FALSE(fs_make_folders(&vfs, "x/y/z", 5));
  EXPECT_EQ(vfs.folders_made, std::vector<std::string>{"x"});
  EXPECT_EQ(vfs.kind("x/y"), ENTRY_MISSING);
}

TEST(FileSystemTest, OpenMapsAccessFlags) {
  TempFolder temp;
  FileSystemPtr fs = make_fs(temp.path());
  EXPECT_EQ(fs_open(fs.get(), "f", 1, 4), nullptr);
  EXPECT_EQ(fs_open(fs.get(), "f", 1, 5), nullptr);  // reading a missing file
  Stream* out = fs_open(fs.get(), "f", 1, 6);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(stream_write(out, "hello", 5), 5);
  EXPECT_EQ(stream_read(out, nullptr, 1), -2);  // write-only
  EXPECT_EQ(stream_close(out), 0);

  Stream* in = fs_open(fs.get(), "f", 1, 5);
  ASSERT_NE(in, nullptr);
  char text[8] = {};
  EXPECT_EQ(stream_read(in, text, 8), 5);
  EXPECT_STREQ(text, "hello");
  EXPECT_EQ(stream_write(in, "x", 1), -2);  // read-only
  EXPECT_EQ(stream_close(in), 0);

  Stream* both = fs_open(fs.get(), "f", 1, FS_READ | FS_WRITE);
  ASSERT_NE(both, nullptr);
  EXPECT_EQ(stream_read(both, text, 2), 2);
  EXPECT_EQ(stream_close(both), 0);

  EXPECT_EQ(fs_open(nullptr, "f", 1, 5), nullptr);
}

TEST(FileSystemTest, RemoveAndSync) {
  TempFolder temp;
  temp.write("gone", "");
  ASSERT_EQ(mkdir(temp.at("full").c_str(), 0700), 0);
  temp.write("full/x", "");
  FileSystemPtr fs = make_fs(temp.path());
  EXPECT_TRUE(fs_remove(fs.get(), "gone", 4));
  EXPECT_FALSE(fs_remove(fs.get(), "gone", 4));
  EXPECT_FALSE(fs_remove(fs.get(), "full", 4));  // not empty
  EXPECT_FALSE(fs_remove(nullptr, "full", 4));

  EXPECT_TRUE(fs_sync_folder(fs.get(), "", 0));
  EXPECT_TRUE(fs_sync_folder(fs.get(), "full", 4));
  EXPECT_FALSE(fs_sync_folder(fs.get(), "full/x", 6));  // not a folder
  EXPECT_FALSE(fs_sync_folder(fs.get(), "missing", 7));
  EXPECT_FALSE(fs_sync_folder(nullptr, "", 0));
}

TEST(FileSystemTest, ResolveAppendsRootAndPath) {
  TempFolder temp;
  FileSystemPtr fs = make_fs(temp.path());
  std::string out = "x";
  fs_resolve(fs.get(), "a/b", 3, &out);
  EXPECT_EQ(out, "x" + temp.path() + "a/b");
  std::string empty;
  fs_resolve(fs.get(), "..", 2, &empty);
  EXPECT_EQ(empty, "");
  fs_resolve(fs.get(), "...", 3, &empty);
  EXPECT_EQ(empty, temp.path() + "...");
  fs_resolve(fs.get(), "a", 1, nullptr);  // no effect, no crash
}

TEST(FileSystemTest, EmptySlotsFallBack) {
  FileSystemOps empty{};
  FileSystem fs{&empty, "/"};
  EntryInfo info;
  FolderListing listing;
  EXPECT_FALSE(fs_query(&fs, "", 0, &info));
  fs_list(&fs, "", 0, &listing);
  EXPECT_FALSE(fs_make_folder(&fs, "", 0));
  EXPECT_FALSE(fs_remove(&fs, "", 0));
  EXPECT_EQ(fs_open(&fs, "", 0, 6), nullptr);
  EXPECT_FALSE(fs_sync_folder(&fs, "", 0));
}

// The in-memory double behaves like the disk where the code above relies on it.
TEST(VirtualFileSystemTest, TreeQueriesAndListing) {
  VirtualFileSystem vfs("/v/");
  vfs.add_file("in/b.txt", "abc");
  vfs.add_file("in/A.txt");
  vfs.add_folder("in/sub");
  vfs.add_other("in/pipe");
  vfs.add_file("in/sub/deep.txt");
  EntryInfo info;
  ASSERT_TRUE(query(&vfs, "in//b.txt", &info));
  EXPECT_EQ(info.kind, ENTRY_FILE);
  EXPECT_EQ(info.size, 3);
  ASSERT_TRUE(query(&vfs, "in/pipe", &info));
  EXPECT_EQ(info.kind, ENTRY_OTHER);
  ASSERT_TRUE(query(&vfs, "nope/x", &info));
  EXPECT_EQ(info.kind, ENTRY_MISSING);
  EXPECT_FALSE(query(&vfs, "in/b.txt/x", &info));  // through a file
  vfs.inject_fault(VfsFault::kQuery, "in/A.txt");
  EXPECT_FALSE(query(&vfs, "in/A.txt", &info));

  FolderListing listing;
  fs_list(&vfs, "in/", 3, &listing);
  // A.txt fails its query and the pipe is neither file nor folder.
  EXPECT_EQ(names(listing), (std::vector<std::string>{"b.txt", "sub"}));
  FolderListing top;
  fs_list(&vfs, "", 0, &top);
  EXPECT_EQ(names(top), std::vector<std::string>{"in"});
}

TEST(VirtualFileSystemTest, StreamsAndFaults) {
  VirtualFileSystem vfs;
  vfs.add_folder("out");
  vfs.add_file("in.txt", "0123456789");
  EXPECT_EQ(fs_open(&vfs, "missing/x", 9, 6), nullptr);  // no parent folder
  EXPECT_EQ(fs_open(&vfs, "out", 3, 6), nullptr);        // a folder
  EXPECT_EQ(fs_open(&vfs, "nope", 4, 5), nullptr);       // reading a missing file
  vfs.inject_fault(VfsFault::kOpen, "out/bad");
  EXPECT_EQ(fs_open(&vfs, "out/bad", 7, 6), nullptr);

  vfs.write_limit = 4;
  Stream* out = fs_open(&vfs, "out/a", 5, 6);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(vfs.open_streams, 1);
  EXPECT_EQ(stream_write(out, "abc", 3), 3);
  EXPECT_EQ(stream_write(out, "def", 3), 1);  // short
  EXPECT_EQ(vfs.contents("out/a"), "abcd");
  EXPECT_EQ(stream_sync(out), 0);
  EXPECT_EQ(vfs.files_synced, std::vector<std::string>{"out/a"});
  EXPECT_EQ(stream_close(out), 0);
  EXPECT_EQ(vfs.open_streams, 0);

  vfs.read_fail_after = 4;
  Stream* in = fs_open(&vfs, "in.txt", 6, 5);
  ASSERT_NE(in, nullptr);
  char buffer[16];
  EXPECT_EQ(stream_read(in, buffer, 3), 3);
  EXPECT_EQ(stream_read(in, buffer, 3), 1);
  EXPECT_EQ(stream_read(in, buffer, 3), -1);
  EXPECT_EQ(stream_close(in), 0);

  vfs.fail_stream_close = true;
  vfs.fail_stream_sync = true;
  Stream* failing = fs_open(&vfs, "out/c", 5, 6);
  ASSERT_NE(failing, nullptr);
  EXPECT_NE(stream_sync(failing), 0);
  EXPECT_NE(stream_close(failing), 0);  // released all the same
  EXPECT_EQ(vfs.open_streams, 0);

  EXPECT_TRUE(fs_remove(&vfs, "out/a", 5));
  EXPECT_FALSE(fs_remove(&vfs, "out", 3));  // still holds out/c
  vfs.inject_fault(VfsFault::kRemove, "out/c");
  EXPECT_FALSE(fs_remove(&vfs, "out/c", 5));
  EXPECT_EQ(vfs.files_removed, std::vector<std::string>{"out/a"});
  EXPECT_TRUE(fs_sync_folder(&vfs, "/out", 4));
  vfs.inject_fault(VfsFault::kSyncFolder, "out");
  EXPECT_FALSE(fs_sync_folder(&vfs, "out", 3));
  EXPECT_EQ(vfs.folders_synced, std::vector<std::string>{"out"});
}

}  // namespace
