/* A C program includes the header without a warning and calls the plain
 * functions; the interfaces are for C++ hosts. */
#include <tavolin/tavolin.h>

#include <string.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    return strcmp(TavolinVersion(), argv[1]) == 0 ? 0 : 1;
}
