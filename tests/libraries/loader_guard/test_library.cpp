// A DLL of our own, copied under the names of blocked DLLs by the loader guard tests.
extern "C" __declspec(dllexport) int testLibraryAnswer()
{
    return 42;
}
