// A DLL named like the plug-in but without its export: the program must unload it again.
extern "C" __declspec(dllexport) int SomethingElse() {
    return 1;
}
