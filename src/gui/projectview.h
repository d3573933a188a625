#pragma once

#include <QWidget>

#include <functional>

class QVBoxLayout;
class Settings;

// The Projects page: choose a Godot project folder and reopen recent ones.
class ProjectView : public QWidget
{
    Q_OBJECT
public:
    ProjectView(Settings *settings, QWidget *parent = nullptr);

    void refresh();
    void buildRecentList();
    void selectProject();

    // Asks the user for a folder, starting at the given one; empty when cancelled. By default the
    // folder dialog; tests put their own answers in its place.
    using FolderChooser = std::function<QString(QWidget *parent, const QString &startFolder)>;
    void setFolderChooser(FolderChooser chooser);

signals:
    void projectSelected(const QString &path);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void openProject(const QString &path, const QString &name);

    Settings *m_settings;
    QVBoxLayout *m_listLayout = nullptr;
    FolderChooser m_chooseFolder;
};
