// Registry keys: opening, creating, access rights, paths, deleting, and a store
// shared by several threads.
#include <gtest/gtest.h>

#include <string>

#include "tests/platform/test_key.h"
#include "tests/support/start_thread.h"

namespace {

LSTATUS SetDword(HKEY key, const char* name, DWORD value) {
  return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value),
                        sizeof(value));
}

LSTATUS GetDword(HKEY key, const char* name, DWORD* value) {
  DWORD size = sizeof(*value);
  return RegQueryValueExA(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(value), &size);
}

// RegCreateKeyExA with full access and neither a class nor security attributes.
LSTATUS Create(HKEY parent, const char* path, HKEY* key, DWORD* disposition = nullptr) {
  return RegCreateKeyExA(parent, path, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, key, disposition);
}

TEST(RegistryKey, CreateReportsNewThenExisting) {
  TestKey key({"Child"});
  HKEY child = nullptr;
  DWORD disposition = 0;
  ASSERT_EQ(ERROR_SUCCESS, Create(key.key, "Child", &child, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_CREATED_NEW_KEY), disposition);
  ASSERT_EQ(ERROR_SUCCESS, SetDword(child, "Mark", 5));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));

  ASSERT_EQ(ERROR_SUCCESS, Create(key.key, "CHILD", &child, &disposition));
  EXPECT_EQ(static_cast<DWORD>(REG_OPENED_EXISTING_KEY), disposition);
  DWORD mark = 0;
  EXPECT_EQ(ERROR_SUCCESS, GetDword(child, "mark", &mark));
  EXPECT_EQ(5u, mark);
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
}

TEST(RegistryKey, PathsIgnoreCaseFromTheRoot) {
  TestKey key({"Mixed", "Mixed\\Case"});
  HKEY created = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, Create(key.key, "Mixed\\Case", &created));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(created, "Mark", 11));
  RegCloseKey(created);

  std::string shouted = key.Sub("MIXED\\case");
  for (char& c : shouted) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
  HKEY opened = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, shouted.c_str(), 0, KEY_READ, &opened));
  DWORD mark = 0;
  EXPECT_EQ(ERROR_SUCCESS, GetDword(opened, "Mark", &mark));
  EXPECT_EQ(11u, mark);
  RegCloseKey(opened);
}

TEST(RegistryKey, OpeningMissingKeyFailsWithFileNotFoundAndNullKey) {
  TestKey key;
  HKEY opened = reinterpret_cast<HKEY>(static_cast<std::uintptr_t>(0x1234));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(key.key, "Absent", 0, KEY_READ, &opened));
  EXPECT_EQ(nullptr, opened);
  EXPECT_EQ(
      ERROR_FILE_NOT_FOUND,
      RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.Sub("Absent\\Deeper").c_str(), 0, KEY_READ, &opened));
}

TEST(RegistryKey, KeyOpenedForReadRefusesWritesButReads) {
  TestKey key;
  ASSERT_EQ(ERROR_SUCCESS, SetDword(key.key, "Flag", 1));
  HKEY reader = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.path.c_str(), 0, KEY_READ, &reader));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(reader, "Flag", 2));
  EXPECT_EQ(ERROR_ACCESS_DENIED, SetDword(reader, "Other", 2));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteValueA(reader, "Flag"));
  DWORD flag = 0;
  EXPECT_EQ(ERROR_SUCCESS, GetDword(reader, "Flag", &flag));
  EXPECT_EQ(1u, flag);  // unchanged by the refused writes
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetDword(key.key, "Other", &flag));
  RegCloseKey(reader);
}

TEST(RegistryKey, KeyOpenedForWriteRefusesQueries) {
  TestKey key;
  HKEY writer = nullptr;
  ASSERT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.path.c_str(), 0, KEY_WRITE, &writer));
  EXPECT_EQ(ERROR_SUCCESS, SetDword(writer, "Flag", 3));
  DWORD flag = 0;
  EXPECT_EQ(ERROR_ACCESS_DENIED, GetDword(writer, "Flag", &flag));
  EXPECT_EQ(ERROR_SUCCESS, GetDword(key.key, "Flag", &flag));
  EXPECT_EQ(3u, flag);
  RegCloseKey(writer);
}

TEST(RegistryKey, EmptyPathOpensAnotherHandleToTheSameKey) {
  TestKey key;
  HKEY again = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key.key, "", 0, KEY_ALL_ACCESS, &again));
  EXPECT_NE(key.key, again);
  ASSERT_EQ(ERROR_SUCCESS, SetDword(again, "Flag", 9));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(again));
  DWORD flag = 0;
  EXPECT_EQ(ERROR_SUCCESS, GetDword(key.key, "Flag", &flag));
  EXPECT_EQ(9u, flag);

  HKEY root = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "", 0, KEY_READ, &root));
  EXPECT_EQ(HKEY_LOCAL_MACHINE, root);
}

TEST(RegistryKey, LeadingBackslashIsBadPathEmptyNamesAreSkipped) {
  TestKey key({"Outer", "Outer\\Inner"});
  HKEY opened = nullptr;
  EXPECT_EQ(ERROR_BAD_PATHNAME, RegOpenKeyExA(key.key, "\\Outer", 0, KEY_READ, &opened));
  EXPECT_EQ(ERROR_BAD_PATHNAME, Create(key.key, "\\Outer", &opened));
  ASSERT_EQ(ERROR_SUCCESS, Create(key.key, "Outer\\\\Inner\\", &opened));
  ASSERT_EQ(ERROR_SUCCESS, SetDword(opened, "Mark", 12));
  RegCloseKey(opened);
  ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key.key, "Outer\\Inner", 0, KEY_READ, &opened));
  DWORD mark = 0;
  EXPECT_EQ(ERROR_SUCCESS, GetDword(opened, "Mark", &mark));
  EXPECT_EQ(12u, mark);
  RegCloseKey(opened);
}

TEST(RegistryKey, DeletingKeyWithSubkeysIsDeniedLeafFirstWorks) {
  TestKey key({"Parent", "Parent\\Leaf"});
  HKEY leaf = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, Create(key.key, "Parent\\Leaf", &leaf));
  RegCloseKey(leaf);
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(key.key, "Parent"));
  EXPECT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key.key, "Parent\\Leaf", 0, KEY_READ, &leaf));
  RegCloseKey(leaf);

  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key.key, "PARENT\\leaf"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(key.key, "Parent\\Leaf"));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key.key, "Parent"));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(key.key, "Parent", 0, KEY_READ, &leaf));
}

TEST(RegistryKey, HandleToDeletedKeyFailsWithKeyDeletedUntilClosed) {
  TestKey key({"Doomed"});
  HKEY doomed = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, Create(key.key, "Doomed", &doomed));
  ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(key.key, "Doomed"));
  DWORD value = 0;
  EXPECT_EQ(ERROR_KEY_DELETED, SetDword(doomed, "Flag", 1));
  EXPECT_EQ(ERROR_KEY_DELETED, GetDword(doomed, "Flag", &value));
  HKEY below = nullptr;
  EXPECT_EQ(ERROR_KEY_DELETED, Create(doomed, "Below", &below));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(doomed));
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(doomed));

  // A new key of the same name is a different key.
  ASSERT_EQ(ERROR_SUCCESS, Create(key.key, "Doomed", &doomed));
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, GetDword(doomed, "Flag", &value));
  RegCloseKey(doomed);
}

TEST(RegistryKey, EmptyPathDeletesTheKeyItselfButNeverARoot) {
  TestKey key({"Self"});
  HKEY self = nullptr;
  ASSERT_EQ(ERROR_SUCCESS, Create(key.key, "Self", &self));
  EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(self, ""));
  RegCloseKey(self);
  EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(key.key, "Self", 0, KEY_READ, &self));
  EXPECT_EQ(ERROR_ACCESS_DENIED, RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""));
  EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(key.key, nullptr));
}

TEST(RegistryKey, ClosingNullAndRootKeys) {
  TestKey key;
  EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(nullptr));
  EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(HKEY_LOCAL_MACHINE));
  // The root is still usable after being "closed".
  HKEY opened = nullptr;
  EXPECT_EQ(ERROR_SUCCESS,
            RegOpenKeyExA(HKEY_LOCAL_MACHINE, key.path.c_str(), 0, KEY_READ, &opened));
  RegCloseKey(opened);
}

// Several threads each keep their own value in one key current through their
// own handle while the others do the same; every write must land and no read may
// see another thread's number.
struct RegistryWorker {
  std::string path;
  int index;
  int rounds;
  int mismatches;
};

DWORD WINAPI WriteAndReadBack(LPVOID parameter) {
  auto* worker = static_cast<RegistryWorker*>(parameter);
  std::string name = "Worker" + std::to_string(worker->index);
  for (int round = 0; round < worker->rounds; ++round) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, worker->path.c_str(), 0, KEY_ALL_ACCESS, &key)) {
      ++worker->mismatches;
      continue;
    }
    DWORD written = static_cast<DWORD>(worker->index * 100000 + round), read = 0;
    if (SetDword(key, name.c_str(), written) || GetDword(key, name.c_str(), &read) ||
        read != written) {
      ++worker->mismatches;
    }
    RegCloseKey(key);
  }
  return 0;
}

TEST(RegistryKey, ConcurrentWritersEachSeeTheirOwnValues) {
  TestKey key;
  constexpr int kWorkers = 4, kRounds = 300;
  RegistryWorker workers[kWorkers];
  HANDLE threads[kWorkers];
  for (int i = 0; i < kWorkers; ++i) {
    workers[i] = RegistryWorker{key.path, i, kRounds, 0};
    threads[i] = monitor_test::StartThread(WriteAndReadBack, &workers[i]);
    ASSERT_NE(nullptr, threads[i]);
  }
  for (int i = 0; i < kWorkers; ++i) {
    EXPECT_EQ(WAIT_OBJECT_0, WaitForSingleObject(threads[i], 60000));
    CloseHandle(threads[i]);
    EXPECT_EQ(0, workers[i].mismatches) << "worker " << i;
    DWORD last = 0;
    std::string name = "worker" + std::to_string(i);
    EXPECT_EQ(ERROR_SUCCESS, GetDword(key.key, name.c_str(), &last));
    EXPECT_EQ(static_cast<DWORD>(i * 100000 + kRounds - 1), last);
  }
}

}  // namespace
