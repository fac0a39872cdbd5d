// The baseline of bench/startup-bench.sh: the smallest Qt Core program, an application object
// and nothing else. It starts, makes the object and ends, as a headless command does around its
// own work.
#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return 0;
}
