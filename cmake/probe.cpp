// What a hardening probe builds: a guarded local array, so that the stack
// protector has something to guard.
int main(int argc, char**) { volatile char buffer[64] = {}; buffer[argc] = 1; return buffer[0]; }
