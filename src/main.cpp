#include "app/Application.h"
#include "app/dmData.h"
#include "app/frmIndex.h"
#include "ui/Fonts.h"

#include <memory>

int main(int argc, char** argv) {
    TApplication app(argc, argv);
    SetUpFonts();
    auto data = std::make_unique<TdmData>();
    auto frmIndex = std::make_unique<TfrmIndex>();
    frmIndex->show();
    const int code = app.exec();
    // the main window's destruction saves the play list; the data module goes last
    frmIndex.reset();
    data.reset();
    return code;
}
