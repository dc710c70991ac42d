#pragma once

// Output files of ripple are written to a temporary file beside the target and renamed onto it
// only when complete, so that a failed run never leaves a partial or stale-looking result.

#include <string>

namespace ripple
{

// A new, empty temporary file in the directory of `target` (a hidden name derived from the
// target's). The destructor removes it unless `commit` has renamed it onto the target.
class TemporaryOutputT
{
public:
    explicit TemporaryOutputT(const std::string& target);
    ~TemporaryOutputT();
    TemporaryOutputT(const TemporaryOutputT&) = delete;
    TemporaryOutputT& operator=(const TemporaryOutputT&) = delete;

    // False when no temporary file could be created beside the target.
    bool created() const { return !path_.empty(); }
    // Path of the temporary file (empty when not created).
    const std::string& path() const { return path_; }
    // Renames the temporary file onto the target; false when that fails (the temporary is then
    // removed by the destructor).
    bool commit();

private:
    std::string target_;
    std::string path_;
    bool committed_ = false;
};

// Writes `bytes` to `target` through a TemporaryOutputT. False when the file cannot be created,
// written completely or renamed; the target is then untouched.
bool writeWholeFile(const std::string& target, const std::string& bytes);

} // namespace ripple
