// The toolkit allocator and the one way a process ends when memory runs out:
// "kiv_malloc(): Out of Memory..." on standard error and exit status -1,
// with the page flushed and the request's saved uploads removed first.
#pragma once

#include <cstddef>
#include <memory>

namespace kiv {

// A zero-filled block of `size` bytes. When memory is exhausted it prints
// "kiv_malloc(): Out of Memory...\n" on standard error and ends the process
// with status -1.
std::unique_ptr<char[]> kiv_malloc(size_t size);

// Ends the process as an exhausted allocation does.
[[noreturn]] void kiv_out_of_memory();
// Flushes the page, removes the uploads no command took over, writes `msg`
// to standard error and ends the process with status -1: the common end of
// every allocator. Allocates nothing.
[[noreturn]] void kiv_exit_out_of_memory(const char* msg, size_t len);

// Makes every failed allocation of the process end as kiv_malloc's does.
void kiv_malloc_init();

}  // namespace kiv
