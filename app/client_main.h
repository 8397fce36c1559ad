// Client mode of zbx3d: everything after the server settings have been loaded
// when "-ds" was not given. Returns the process exit status if it returns.
#pragma once

namespace zbx {

int run_client(int argc, char** argv);

}  // namespace zbx
