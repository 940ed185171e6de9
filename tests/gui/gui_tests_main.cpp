#include <cstring>

#include <QApplication>

int runWindowTests(int argc, char** argv);
int runOperatorTests(int argc, char** argv);
int runProcessTests(int argc, char** argv);

// quill_gui_tests SUITE [QTest arguments]: one QTest class per run, so ctest lists each.
int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s window|operator|process [QTest arguments]\n", argv[0]);
        return 2;
    }
    const char* suite = argv[1];
    // QTest sees the program name followed by its own arguments.
    argv[1] = argv[0];
    QApplication application(argc, argv);
    if (std::strcmp(suite, "window") == 0)
        return runWindowTests(argc - 1, argv + 1);
    if (std::strcmp(suite, "operator") == 0)
        return runOperatorTests(argc - 1, argv + 1);
    if (std::strcmp(suite, "process") == 0)
        return runProcessTests(argc - 1, argv + 1);
    std::fprintf(stderr, "unknown suite %s\n", suite);
    return 2;
}
