// The library that DoFunc tests call into: two exports without arguments
// that return known numbers. extern "C" and the default (cdecl) convention
// keep the export names undecorated.
extern "C" __declspec(dllexport) int CvTestAnswer() { return 4242; }
extern "C" __declspec(dllexport) int CvTestNegative() { return -17; }
