/* The floor under a CGI request: a C program that answers with a bare page
 * and does nothing else, built and linked as the system's programs are. The
 * start-page benchmark runs it beside `up`. */
#include <stdio.h>

int main(void) {
  fputs("Content-type: text/html\n\n<html><body></body></html>\n", stdout);
  return 0;
}
