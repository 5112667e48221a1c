// The program the signature test signs: any valid executable will do, and a small one keeps
// signing fast.

#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) { return 0; }
