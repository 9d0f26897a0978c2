// Runs noltpub command lines in-process inside a fresh sandbox.
#pragma once
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "commands.h"
#include "scoped_sandbox.h"

struct NoltpubResult {
  int code = -1;
  std::string out;
  std::string err;
};

class NoltpubTest : public ::testing::Test {
 protected:
  NoltpubResult Run(const std::vector<std::string>& args) {
    std::ostringstream out;
    std::ostringstream err;
    NoltpubResult result;
    result.code = noltpub::RunNoltpub(args, out, err);
    result.out = out.str();
    result.err = err.str();
    return result;
  }
  std::string Path(const std::string& name) const { return sandbox_.Root() + "/" + name; }

  platform::testing::ScopedSandbox sandbox_;
};
