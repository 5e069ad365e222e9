#pragma once

#include <QString>

// Opens a web address in the default browser; whether the browser came up is not checked.
class BrowseUrlAction {
public:
    BrowseUrlAction(const QString& caption, const QString& hint, const QString& url);

    QString Caption() const { return caption_; }
    void SetCaption(const QString& caption) { caption_ = caption; }
    QString Hint() const { return hint_; }
    QString URL() const { return url_; }
    void SetURL(const QString& url) { url_ = url; }

    void Execute() const;

private:
    QString caption_;
    QString hint_;
    QString url_;
};
