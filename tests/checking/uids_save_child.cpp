// Saves two different identifier lists to the file named on the command line in turn, forever; the
// parent kills it at an arbitrary moment.
#include "UIDStore.h"
#include "UidsSaveLists.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (app.arguments().size() != 2)
        return 2;
    const QString path = app.arguments().at(1);
    const QStringList a = UidsSaveListA(), b = UidsSaveListB();
    bool announced = false;
    for (unsigned i = 0;; ++i) {
        WriteUIDFile(path, (i & 1) ? b : a);
        if (!announced) {
            std::puts("saving");
            std::fflush(stdout);
            announced = true;
        }
    }
}
