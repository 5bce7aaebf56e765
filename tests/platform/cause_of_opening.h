// The cause with which opening a file fails, for the file-layer tests of every
// platform; opening that succeeds is a test failure.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/file.h"

inline CFileException::Cause CauseOfOpening(const std::string& strPath, unsigned nFlags) {
  try {
    CFile file(strPath, nFlags);
  } catch (const CFileException& e) {
    return e.GetCause();
  }
  ADD_FAILURE() << "opening " << strPath << " succeeded";
  return CFileException::other;
}
