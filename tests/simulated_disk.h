// An in-memory disk for power-loss tests, after LevelDB's fault-injection
// environment. It keeps apart what was written and what was made durable:
// file data by a file's sync, names (creations, renames, removals) by a
// folder sync. At a chosen call the power fails: from then on every call
// fails, and the test examines every state the disk could come back in.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "core/files/file_system.h"
#include "tests/test_support.h"

namespace kestrune::test {

// What a folder holds: file name to content.
using FolderState = std::map<std::string, Bytes>;

class SimulatedDisk final : public FileSystem {
 public:
  struct Inode {
    Bytes content;
    Bytes durable;
  };

  // Forgets every file and call, as a newly formatted disk.
  void clear();
  // Adds a file as if it had been there, synced, for a long time.
  void add_durable_file(const std::string& name, const Bytes& content);
  // The power fails just before call number `call` (from 1).
  void fail_power_at(std::size_t call) { power_fails_at_ = call; }
  std::size_t calls() const { return calls_; }
  bool power_failed() const { return power_failed_; }
  // Every state the folder can be found in after the power failure: file
  // data that was not synced is gone, and any subset of the name changes
  // since the last folder sync may have reached the disk.
  std::vector<FolderState> states_after_power_loss() const;
  // What the folder holds now, durable or not.
  FolderState current_state() const { return contents(names_, &Inode::content); }

  // Counts a call; false when the power has failed.
  bool has_power();
  // For the files the disk hands out, which hold `mutex` while they ask.
  bool name_leads_to(const std::string& name, const Inode* inode) const;
  bool has_name(const std::string& name) const { return names_.contains(name); }
  void rename(const std::string& from, const std::string& to);
  void remove_name(const std::string& name);
  // A folder sync: every name change so far becomes durable.
  void make_names_durable();

  std::error_code open_for_reading(const std::filesystem::path& path,
                                   std::unique_ptr<ReadableFile>& file,
                                   FileStatus& status) override;
  std::error_code create_temporary(const std::filesystem::path& target,
                                   std::unique_ptr<WritableFile>& file,
                                   std::filesystem::path& temporary) override;
  std::error_code remove_input(const std::filesystem::path& path, const FileStatus& converted,
                               bool& another_file) override;

  std::mutex mutex;  // conversions read and write from several threads

 private:
  struct NameChange {
    std::string name;              // created, renamed to, or removed
    std::string from;              // the old name of a rename
    std::shared_ptr<Inode> inode;  // null for a removal
  };
  using Names = std::map<std::string, std::shared_ptr<Inode>>;
  static FolderState contents(const Names& names, Bytes Inode::*version = &Inode::durable);

  Names names_;
  Names durable_names_;
  std::vector<NameChange> pending_;  // since the last folder sync
  std::size_t calls_ = 0;
  std::size_t power_fails_at_ = 0;
  bool power_failed_ = false;
  std::optional<std::vector<FolderState>> states_at_failure_;
  std::size_t next_temporary_ = 0;
};

}  // namespace kestrune::test
