/* A minimal x86-64 program: the bitness checks need a real 64-bit image. */
int main(void) { return 0; }
