// The library's temporary files and private folders in existence (a batch's, a
// table's or database's before it is renamed into place), which an end at once
// (quorlix_batch_abandon) removes, and the steps it must not cut short.
#pragma once

#include <string>

namespace temporaries {

void RegisterTempFile(const std::string& path);
void ForgetTempFile(const std::string& path);
// Removes the file and forgets it.
void RemoveTempFile(const std::string& path);
// Removed after the files, emptied by name.
void RegisterTempFolder(const std::string& path);
void ForgetTempFolder(const std::string& path);

// A step an end at once waits for, so that it never cuts one short: the outputs
// of a pair are put in place both or neither. After the end, no step starts.
class HoldOffEnd {
 public:
  HoldOffEnd();
  ~HoldOffEnd();
  HoldOffEnd(const HoldOffEnd&) = delete;
  HoldOffEnd& operator=(const HoldOffEnd&) = delete;
};

// Waits for the step in progress, removes every registered temporary, and keeps
// the locks for good, so that no worker registers (and then makes) another.
void RemoveAllForGood();

}  // namespace temporaries
