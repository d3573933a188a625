#pragma once

#include <QProgressDialog>

class Updater;

// A small non-modal window over the main window while the installer downloads: progress in
// percent and megabytes, and a Cancel that ends the download and keeps nothing. It closes itself
// when the download ends; the main window reports the outcome.
class DownloadDialog : public QProgressDialog
{
    Q_OBJECT
public:
    DownloadDialog(Updater *updater, QWidget *parent);

    // "Downloading update… 42 % (12.1 of 28.8 MB)"; total < 0 when the size is not known.
    [[nodiscard]] static QString progressText(qint64 received, qint64 total);

private:
    void showProgress(qint64 received, qint64 total);

    Updater *m_updater;
};
