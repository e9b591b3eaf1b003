#include "core/errors.hpp"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <future>
#include <new>
#include <system_error>

namespace tamrik::core {
namespace {

TEST(OSError, ClassNameFollowsErrno) {
  const std::pair<int, const char*> cases[] = {
      {ENOENT, "FileNotFoundError"}, {EACCES, "PermissionError"},
      {EPERM, "PermissionError"},    {EISDIR, "IsADirectoryError"},
      {EEXIST, "FileExistsError"},   {EINTR, "InterruptedError"},
      {ENOSPC, "OSError"},           {EIO, "OSError"},
  };
  for (const auto& [code, name] : cases) {
    const OSError error("open /x", code);
    EXPECT_EQ(error.class_name(), name) << "errno " << code;
    EXPECT_EQ(error.code(), code);
  }
}

TEST(OSError, MessageNamesOperationThenSystemText) {
  const OSError error("open /repo/.tamrik/log.jsonl", ENOENT);
  EXPECT_STREQ(error.what(), "open /repo/.tamrik/log.jsonl: No such file or directory");
}

TEST(ClassNameOf, OurErrorsReportTheirOwnNameNeverTheMessage) {
  EXPECT_EQ(class_name_of(YAMLError("bad")), "YAMLError");
  EXPECT_EQ(class_name_of(JSONDecodeError("bad")), "JSONDecodeError");
  EXPECT_EQ(class_name_of(OSError("write f", EACCES)), "PermissionError");
  EXPECT_EQ(class_name_of(Error("ConnectionError", "refused")), "ConnectionError");
}

TEST(ClassNameOf, StandardExceptionsMapToFixedNames) {
  EXPECT_EQ(class_name_of(std::bad_alloc()), "MemoryError");
  EXPECT_EQ(class_name_of(std::bad_array_new_length()), "MemoryError");
  EXPECT_EQ(class_name_of(std::invalid_argument("x")), "ValueError");
  EXPECT_EQ(class_name_of(std::out_of_range("x")), "ValueError");
  EXPECT_EQ(class_name_of(std::domain_error("x")), "ValueError");
  EXPECT_EQ(class_name_of(std::runtime_error("x")), "RuntimeError");
  EXPECT_EQ(class_name_of(std::logic_error("x")), "RuntimeError");
}

TEST(ClassNameOf, SystemErrorsWithErrnoReadLikeOSError) {
  try {
    (void)std::filesystem::file_size("/nonexistent/tamrik/file");
    FAIL() << "file_size of a missing file did not throw";
  } catch (const std::filesystem::filesystem_error& e) {
    EXPECT_EQ(class_name_of(e), "FileNotFoundError");
  }
  EXPECT_EQ(class_name_of(std::system_error(EACCES, std::generic_category())), "PermissionError");
  EXPECT_EQ(class_name_of(std::system_error(ENOSPC, std::system_category())), "OSError");
  // Not an errno value: no file-error name.
  EXPECT_EQ(class_name_of(std::future_error(std::future_errc::no_state)), "RuntimeError");
}

}  // namespace
}  // namespace tamrik::core
