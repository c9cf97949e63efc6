// Outputs that appear whole or not at all. A file (or a folder) is written under a temporary name
// beside its final one, flushed to the disk, and renamed into place only when it is complete. Until
// then it is pending: an exception or a destructor without commit removes it, and so does a
// terminating signal (SIGINT, SIGTERM, SIGHUP), whose handler removes every pending temporary and
// then ends the process by the same signal, so that its exit status says how it ended. The handler
// is installed when the first output starts pending and the earlier ones are put back when the last
// one ends. A SIGKILL cannot be caught: it leaves the temporary, never a partial file under the final
// name, and the next output of that name replaces the temporary.
#pragma once

#include <cstddef>
#include <string>

namespace platform {

// The temporary name an output is written under: ".NAME.partial" in the same folder.
std::string PartialName(const std::string& finalPath);

class AtomicOutput {
 public:
  enum class Kind { File, Folder };

  // Registers the temporary for removal, then clears one a killed run left there. A folder is created
  // empty; a file is left for the writer to create. Throws platform::Error naming the final path when
  // too many outputs are pending or the folder cannot be made.
  explicit AtomicOutput(std::string finalPath, Kind kind = Kind::File);
  // Removes the temporary unless it was committed.
  ~AtomicOutput();
  AtomicOutput(const AtomicOutput&) = delete;
  AtomicOutput& operator=(const AtomicOutput&) = delete;

  // Where to write.
  const std::string& path() const { return partial_; }
  const std::string& finalPath() const { return final_; }

  // When the output reaches the disk: at commit, or later, with many others at once (FlushFolder).
  enum class Flush { Now, Later };

  // Flushes the temporary (every file of a folder) to the disk and renames it to the final name. A
  // folder that is already there is exchanged for the new one and then removed. Throws platform::Error
  // naming the final path and the cause; the temporary is removed then too.
  void commit(Flush flush = Flush::Now);

 private:
  std::string final_, partial_;
  Kind kind_;
  int slot_;
  bool committed_ = false;
};

// Writes `size` bytes as the whole of `path`, atomically as above.
void WriteFileAtomically(const std::string& path, const void* data, std::size_t size,
                         AtomicOutput::Flush flush = AtomicOutput::Flush::Now);

// Flushes everything written to the file system that holds `folder` (outputs committed with
// Flush::Later): one flush for a run of many files instead of one each. Throws platform::Error.
void FlushFolder(const std::string& folder);

// How many outputs are pending now (for tests).
int PendingOutputs();

}  // namespace platform
