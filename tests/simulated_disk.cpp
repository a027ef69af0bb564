#include "tests/simulated_disk.h"

#include <algorithm>

namespace kestrune::test {
namespace {

std::error_code power_failure() { return std::make_error_code(std::errc::io_error); }

class SimulatedReader final : public ReadableFile {
 public:
  SimulatedReader(SimulatedDisk& disk, std::shared_ptr<SimulatedDisk::Inode> inode)
      : disk_(disk), inode_(std::move(inode)) {}
  std::error_code read(std::span<std::uint8_t> buffer, std::size_t& bytes_read) override {
    std::lock_guard lock(disk_.mutex);
    bytes_read = 0;
    if (!disk_.has_power()) return power_failure();
    const std::size_t left = inode_->content.size() - std::min(position_, inode_->content.size());
    bytes_read = std::min(left, buffer.size());
    std::copy_n(inode_->content.begin() + static_cast<std::ptrdiff_t>(position_), bytes_read,
                buffer.begin());
    position_ += bytes_read;
    return {};
  }
  std::error_code status(FileStatus& status) override;

 private:
  SimulatedDisk& disk_;
  std::shared_ptr<SimulatedDisk::Inode> inode_;
  std::size_t position_ = 0;
};

class SimulatedWriter final : public WritableFile {
 public:
  SimulatedWriter(SimulatedDisk& disk, std::shared_ptr<SimulatedDisk::Inode> inode,
                  std::string name, std::string target)
      : disk_(disk), inode_(std::move(inode)), name_(std::move(name)), target_(std::move(target)) {}
  std::error_code write(std::span<const std::uint8_t> data) override {
    std::lock_guard lock(disk_.mutex);
    if (!disk_.has_power()) return power_failure();
    inode_->content.insert(inode_->content.end(), data.begin(), data.end());
    return {};
  }
  // Permissions are not simulated; the call can still meet a power failure.
  std::error_code take_permissions(const FileStatus&) override {
    std::lock_guard lock(disk_.mutex);
    return disk_.has_power() ? std::error_code{} : power_failure();
  }
  std::error_code sync() override {
    std::lock_guard lock(disk_.mutex);
    if (!disk_.has_power()) return power_failure();
    inode_->durable = inode_->content;
    return {};
  }
  std::error_code check_name() override {
    std::lock_guard lock(disk_.mutex);
    if (!disk_.has_power()) return power_failure();
    return disk_.name_leads_to(renamed_ ? target_ : name_, inode_.get())
               ? std::error_code{}
               : std::make_error_code(std::errc::file_exists);
  }
  std::error_code rename_into_place(bool replace_existing) override {
    std::lock_guard lock(disk_.mutex);
    if (!disk_.has_power()) return power_failure();
    if (!replace_existing && disk_.has_name(target_))
      return std::make_error_code(std::errc::file_exists);
    disk_.rename(name_, target_);
    renamed_ = true;
    return {};
  }
  std::error_code close() override {
    std::lock_guard lock(disk_.mutex);
    return disk_.has_power() ? std::error_code{} : power_failure();
  }
  std::error_code discard() override {
    std::lock_guard lock(disk_.mutex);
    if (!disk_.has_power()) return power_failure();
    if (!disk_.name_leads_to(name_, inode_.get()))
      return std::make_error_code(std::errc::no_such_file_or_directory);
    disk_.remove_name(name_);
    return {};
  }
  std::error_code sync_folder() override {
    std::lock_guard lock(disk_.mutex);
    if (!disk_.has_power()) return power_failure();
    disk_.make_names_durable();
    return {};
  }

 private:
  SimulatedDisk& disk_;
  std::shared_ptr<SimulatedDisk::Inode> inode_;
  std::string name_;
  std::string target_;
  bool renamed_ = false;
};

std::string name_of(const std::filesystem::path& path) { return path.filename().string(); }

}  // namespace

void SimulatedDisk::clear() {
  names_.clear();
  durable_names_.clear();
  pending_.clear();
  calls_ = 0;
  power_fails_at_ = 0;
  power_failed_ = false;
  states_at_failure_.reset();
  next_temporary_ = 0;
}

void SimulatedDisk::add_durable_file(const std::string& name, const Bytes& content) {
  auto inode = std::make_shared<Inode>(Inode{content, content});
  names_[name] = inode;
  durable_names_[name] = inode;
}

bool SimulatedDisk::has_power() {
  if (power_failed_) return false;
  if (++calls_ != power_fails_at_) return true;
  power_failed_ = true;
  // Each subset of the pending name changes, applied in their order.
  std::vector<FolderState> states;
  for (std::size_t subset = 0; subset < (std::size_t{1} << pending_.size()); ++subset) {
    Names names = durable_names_;
    for (std::size_t i = 0; i < pending_.size(); ++i) {
      if ((subset & (std::size_t{1} << i)) == 0) continue;
      const NameChange& change = pending_[i];
      if (!change.from.empty()) names.erase(change.from);
      if (change.inode)
        names[change.name] = change.inode;
      else
        names.erase(change.name);
    }
    states.push_back(contents(names));
  }
  states_at_failure_ = std::move(states);
  return false;
}

std::vector<FolderState> SimulatedDisk::states_after_power_loss() const {
  return states_at_failure_.value_or(std::vector<FolderState>{contents(durable_names_)});
}

FolderState SimulatedDisk::contents(const Names& names, Bytes Inode::*version) {
  FolderState state;
  for (const auto& [name, inode] : names) state[name] = (*inode).*version;
  return state;
}

namespace {

// The inode's address is its identity: stable for as long as it exists.
FileStatus status_of(const SimulatedDisk::Inode& inode) {
  FileStatus status;
  status.is_regular = true;
  status.size = inode.content.size();
  status.file_number = reinterpret_cast<std::uintptr_t>(&inode);
  return status;
}

std::error_code SimulatedReader::status(FileStatus& status) {
  std::lock_guard lock(disk_.mutex);
  if (!disk_.has_power()) return power_failure();
  status = status_of(*inode_);
  return {};
}

}  // namespace

std::error_code SimulatedDisk::open_for_reading(const std::filesystem::path& path,
                                                std::unique_ptr<ReadableFile>& file,
                                                FileStatus& status) {
  std::lock_guard lock(mutex);
  if (!has_power()) return power_failure();
  const auto found = names_.find(name_of(path));
  if (found == names_.end()) return std::make_error_code(std::errc::no_such_file_or_directory);
  file = std::make_unique<SimulatedReader>(*this, found->second);
  status = status_of(*found->second);
  return {};
}

std::error_code SimulatedDisk::create_temporary(const std::filesystem::path& target,
                                                std::unique_ptr<WritableFile>& file,
                                                std::filesystem::path& temporary) {
  std::lock_guard lock(mutex);
  if (!has_power()) return power_failure();
  const std::string name = "." + name_of(target) + "." + std::to_string(next_temporary_++) + ".tmp";
  auto inode = std::make_shared<Inode>();
  names_[name] = inode;
  pending_.push_back({name, "", inode});
  file = std::make_unique<SimulatedWriter>(*this, inode, name, name_of(target));
  temporary = target.parent_path() / name;
  return {};
}

bool SimulatedDisk::name_leads_to(const std::string& name, const Inode* inode) const {
  const auto found = names_.find(name);
  return found != names_.end() && found->second.get() == inode;
}

void SimulatedDisk::rename(const std::string& from, const std::string& to) {
  const auto inode = names_.at(from);
  names_.erase(from);
  names_[to] = inode;
  pending_.push_back({to, from, inode});
}

void SimulatedDisk::remove_name(const std::string& name) {
  names_.erase(name);
  pending_.push_back({name, "", nullptr});
}

void SimulatedDisk::make_names_durable() {
  durable_names_ = names_;
  pending_.clear();
}

std::error_code SimulatedDisk::remove_input(const std::filesystem::path& path,
                                            const FileStatus& converted, bool& another_file) {
  std::lock_guard lock(mutex);
  if (!has_power()) return power_failure();
  const auto found = names_.find(name_of(path));
  if (found == names_.end()) return std::make_error_code(std::errc::no_such_file_or_directory);
  another_file = !status_of(*found->second).same_file_as(converted);
  if (another_file) return {};
  names_.erase(found);
  pending_.push_back({name_of(path), "", nullptr});
  return {};
}

}  // namespace kestrune::test
