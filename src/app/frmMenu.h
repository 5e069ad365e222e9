#pragma once

#include "ui/SkinnedForm.h"

class QLabel;
class QPlainTextEdit;
class QPushButton;
class ClickLabel;

// The about window: product name, version and credits, the version information downloaded
// from the maker's server, links to its pages, and the update. Run modally once per "?" click.
class TfrmMenu : public SkinnedForm {
    Q_OBJECT
public:
    explicit TfrmMenu(QWidget* parent = nullptr);

    // controls, named as the layout names them
    ClickLabel* Label1 = nullptr; // "X"
    QLabel* Label2 = nullptr;     // product name
    QLabel* Label3 = nullptr;     // version
    QLabel* Image2 = nullptr;     // logo
    QLabel* Label5 = nullptr;     // authors
    ClickLabel* Label6 = nullptr; // home page
    QLabel* Label8 = nullptr;     // contact address
    QLabel* Label4 = nullptr;     // credit line
    QLabel* Label7 = nullptr;     // "Version information:"
    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Button2 = nullptr; // "Contact us"
    QPushButton* Button1 = nullptr; // "Check for new version"

    // handlers
    void FormCreate();
    void Label1Click();
    void Label6Click();
    void Button1Click();
    void Button2Click();

private:
    void CreateControls();
};
