#include "fs/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using Names = std::vector<std::string>;

FileSystemPtr make_fs(const std::string& root) {
  return FileSystemPtr(fs_new(root.data(), root.size()), fs_free);
}

bool query(FileSystem* fs, const std::string& path, EntryInfo* info) {
  return fs_query(fs, path.data(), path.size(), info);
}

Names names(const FolderListing& listing) {
  Names result;
  for (const auto& entry : listing) result.push_back(entry.first);
  return result;
}

class FileSystemTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs_ = make_fs(temp_.path());
    ASSERT_NE(fs_, nullptr);
  }
  test_support::TempFolder temp_;
  FileSystemPtr fs_{nullptr, fs_free};
};

TEST_F(FileSystemTest, NewNeedsAnExistingFolderEndingInSlash) {
  ASSERT_TRUE(temp_.write("plain", "x"));
  const std::string& path = temp_.path();
  for (const std::string& refused :
       {std::string(), path.substr(0, path.size() - 1), temp_.at("plain/"), temp_.at("missing/")}) {
    EXPECT_EQ(make_fs(refused), nullptr) << refused;
  }
  EXPECT_EQ(fs_->root, path);
  fs_free(nullptr);
}

TEST_F(FileSystemTest, QueryTellsAMissingEntryFromAFailedQuery) {
  ASSERT_TRUE(temp_.write("five", "12345"));
  ASSERT_TRUE(temp_.make_folders("sub"));
  ASSERT_EQ(mkfifo(temp_.at("pipe").c_str(), 0600), 0);
  struct Row {
    const char* path;
    EntryKind kind;
    int64_t size;
  };
  for (const Row& row : {Row{"five", ENTRY_FILE, 5}, Row{"sub", ENTRY_FOLDER, 0},
                         Row{"pipe", ENTRY_OTHER, 0}, Row{"nothing", ENTRY_MISSING, 0}}) {
    EntryInfo info{ENTRY_OTHER, 77};
    ASSERT_TRUE(query(fs_.get(), row.path, &info)) << row.path;
    EXPECT_EQ(info.kind, row.kind) << row.path;
    EXPECT_EQ(info.size, row.size) << row.path;
  }
  // A path through a regular file fails (ENOTDIR) and leaves info untouched.
  EntryInfo info{ENTRY_OTHER, 77};
  EXPECT_FALSE(query(fs_.get(), "five/inside", &info));
  EXPECT_EQ(info.kind, ENTRY_OTHER);
  EXPECT_EQ(info.size, 77);
  EXPECT_FALSE(fs_query(nullptr, "five", 4, &info));
  EXPECT_FALSE(fs_query(fs_.get(), "five", 4, nullptr));
  // Only the given length counts.
  ASSERT_TRUE(fs_query(fs_.get(), "fivex", 4, &info));
  EXPECT_EQ(info.kind, ENTRY_FILE);
}

TEST_F(FileSystemTest, ListIsInByteOrderAndHoldsOnlyFilesAndFolders) {
  for (const char* name :
       {"B.txt", "a.txt", "10.txt", "9.txt", ".hidden.txt", "\xc3\xa9.txt", "z"}) {
    ASSERT_TRUE(temp_.write(name, name));
  }
  ASSERT_TRUE(temp_.write("data.txt/inner", ""));
  ASSERT_EQ(mkfifo(temp_.at("pipe").c_str(), 0600), 0);
  ASSERT_EQ(symlink("data.txt", temp_.at("link").c_str()), 0);
  ASSERT_EQ(symlink("nowhere", temp_.at("dangling").c_str()), 0);
  ASSERT_EQ(symlink("loop", temp_.at("loop").c_str()), 0);

  FolderListing listing;
  fs_list(fs_.get(), "", 0, &listing);
  // Bytes compare as unsigned: the two-byte name sorts after "z".
  // A link to nothing is missing and left out; one that cannot be followed
  // is listed with the reason its query failed.
  EXPECT_EQ(names(listing), (Names{".hidden.txt", "10.txt", "9.txt", "B.txt", "a.txt", "data.txt",
                                   "link", "loop", "z", "\xc3\xa9.txt"}));
  EXPECT_EQ(listing["loop"].error, ELOOP);
  EXPECT_EQ(listing["B.txt"].kind, ENTRY_FILE);
  EXPECT_EQ(listing["B.txt"].size, 5);
  EXPECT_EQ(listing["link"].kind, ENTRY_FOLDER);  // links are followed

  // A folder path ending in "/" doubles the separator, which still works.
  FolderListing inner;
  fs_list(fs_.get(), "data.txt/", 9, &inner);
  EXPECT_EQ(names(inner), Names{"inner"});

  FolderListing none;
  fs_list(fs_.get(), "z", 1, &none);  // not a folder
  fs_list(fs_.get(), "missing", 7, &none);
  fs_list(nullptr, "", 0, &none);
  EXPECT_TRUE(none.empty());
}

TEST_F(FileSystemTest, MakeFolderAcceptsAFolderAndRefusesEverythingElse) {
  ASSERT_TRUE(temp_.write("taken", "keep me"));
  EXPECT_FALSE(fs_make_folder(fs_.get(), "taken", 5));
  EXPECT_EQ(temp_.read("taken"), "keep me");
  EXPECT_TRUE(fs_make_folder(fs_.get(), "new", 3));
  struct stat st;
  ASSERT_EQ(stat(temp_.at("new").c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 0077, 0u);                         // made with 0700
  EXPECT_TRUE(fs_make_folder(fs_.get(), "new", 3));         // exists: accepted
  EXPECT_FALSE(fs_make_folder(fs_.get(), "taken/sub", 9));  // query fails
  EXPECT_FALSE(fs_make_folder(fs_.get(), "a/b", 3));        // parent missing: mkdir fails

  // Every component in turn; empty ones are skipped, none at all is done.
  EXPECT_TRUE(fs_make_folders(fs_.get(), "/a//b/c/", 8));
  EXPECT_TRUE(temp_.has("a/b/c"));
  EXPECT_TRUE(fs_make_folders(fs_.get(), "", 0));
  // The first failure ends it.
  EXPECT_FALSE(fs_make_folders(fs_.get(), "taken/d/e", 9));
}

TEST_F(FileSystemTest, OpenMapsAccessFlags) {
  EXPECT_EQ(fs_open(fs_.get(), "f", 1, 4), nullptr);  // neither read nor write
  EXPECT_EQ(fs_open(fs_.get(), "f", 1, 5), nullptr);  // reading a missing file
  EXPECT_FALSE(temp_.has("f"));
  Stream* out = fs_open(fs_.get(), "f", 1, 6);
  ASSERT_NE(out, nullptr);
  EXPECT_EQ(stream_write(out, "hello", 5), 5);
  EXPECT_EQ(stream_read(out, nullptr, 1), -2);  // write-only
  EXPECT_EQ(stream_close(out), 0);

  char text[8] = {};
  Stream* in = fs_open(fs_.get(), "f", 1, 5);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(stream_read(in, text, 8), 5);
  EXPECT_STREQ(text, "hello");
  EXPECT_EQ(stream_write(in, "x", 1), -2);  // read-only
  EXPECT_EQ(stream_close(in), 0);

  Stream* both = fs_open(fs_.get(), "f", 1, FS_READ | FS_WRITE);  // keeps the contents
  ASSERT_NE(both, nullptr);
  EXPECT_EQ(stream_read(both, text, 2), 2);
  EXPECT_EQ(stream_write(both, "x", 1), 1);
  EXPECT_EQ(stream_close(both), 0);
  EXPECT_EQ(temp_.read("f"), "hexlo");
  EXPECT_EQ(fs_open(nullptr, "f", 1, 5), nullptr);
}

TEST_F(FileSystemTest, RemoveSyncAndResolve) {
  ASSERT_TRUE(temp_.write("gone", ""));
  ASSERT_TRUE(temp_.write("full/x", ""));
  EXPECT_TRUE(fs_remove(fs_.get(), "gone", 4));
  EXPECT_FALSE(temp_.has("gone"));
  EXPECT_FALSE(fs_remove(fs_.get(), "gone", 4));
  EXPECT_FALSE(fs_remove(fs_.get(), "full", 4));  // not empty
  EXPECT_FALSE(fs_remove(nullptr, "full", 4));

  EXPECT_TRUE(fs_sync_folder(fs_.get(), "", 0));
  EXPECT_TRUE(fs_sync_folder(fs_.get(), "full", 4));
  EXPECT_FALSE(fs_sync_folder(fs_.get(), "full/x", 6));  // not a folder
  EXPECT_FALSE(fs_sync_folder(fs_.get(), "missing", 7));
  EXPECT_FALSE(fs_sync_folder(nullptr, "", 0));

  std::string out = "x";
  fs_resolve(fs_.get(), "a/b", 3, &out);
  EXPECT_EQ(out, "x" + temp_.path() + "a/b");
  std::string empty;
  fs_resolve(fs_.get(), "..", 2, &empty);  // ".." alone resolves to nothing
  EXPECT_EQ(empty, "");
  fs_resolve(fs_.get(), "...", 3, &empty);
  EXPECT_EQ(empty, temp_.path() + "...");
  fs_resolve(fs_.get(), "a", 1, nullptr);  // no effect
}

TEST(FileSystemSlotsTest, EmptySlotsFallBack) {
  FileSystemOps empty{};
  FileSystem fs{&empty, "/"};
  EntryInfo info;
  FolderListing listing;
  EXPECT_FALSE(fs_query(&fs, "", 0, &info));
  fs_list(&fs, "", 0, &listing);
  EXPECT_TRUE(listing.empty());
  EXPECT_FALSE(fs_make_folder(&fs, "", 0));
  EXPECT_FALSE(fs_remove(&fs, "", 0));
  EXPECT_EQ(fs_open(&fs, "", 0, 6), nullptr);
  EXPECT_FALSE(fs_sync_folder(&fs, "", 0));
}

}  // namespace
