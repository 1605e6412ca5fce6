// Ending the process from deep inside a request.
// A function that must end the process throws kiv::Exit; each main catches it,
// flushes the page and exits with the status. Tests catch it and check it.
#pragma once

namespace kiv {

struct Exit {
  int status;
};

}  // namespace kiv
