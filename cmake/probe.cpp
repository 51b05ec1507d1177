// What a hardening probe builds: a local C array indexed at run time, the
// pattern that the stack protector guards and the toolchain must not refuse.
// NOLINTBEGIN: plain C on purpose, unlike the program's own code.
int main(int argc, char**) {
    volatile char buffer[64] = {};
    buffer[argc] = 1;
    return buffer[0];
}
// NOLINTEND
