// The program codeintake: the bar-code reading command as a command program
// of the Linux front. It reads the request variable stream before anything
// else, then runs code_intake with its own arguments as the words
// (argv[1] the template, as the state file's command line gives it).
#include "commands/upbarcode.h"
#include "linux/cmdprog.h"

int main(int argc, char** argv) { return kiv::kivexec::command_main(argc, argv, kiv::code_intake); }
