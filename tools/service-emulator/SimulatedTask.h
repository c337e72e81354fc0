#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>
#include <QStringList>

// The service's view of one marking task: the images announced for it, how far their analysis and proofreading
// went, and the students the analysis made of them. Not thread-safe; the emulator guards it.
class SimulatedTask
{
public:
    struct Rules
    {
        int pagesPerStudent = 2;
        int failEvery = 5;
        int warnEvery = 3;
        int analysePerStep = 1;
        int proofreadPerStep = 1;
    };

    SimulatedTask(const QString& taskId, const Rules& rules);

    // An image the client announced: waits for a step to analyse it. Images are grouped into students in
    // announcement order, pagesPerStudent consecutive images per student.
    void announce(const QString& url);
    // A student whose pages are analysed and proofread already (failedPages: 0-based pages that failed).
    void addAnalysedStudent(const QStringList& pageUrls, const QList<int>& failedPages = {});

    // One step: analyses up to analysePerStep waiting images, then proofreads up to proofreadPerStep analysed ones.
    void step();
    void finish();

    int uploadedCount() const;
    int failedCount() const;
    int proofreadCount() const;
    int pendingCount() const;
    int analysedStudentCount() const;
    int failedStudentCount() const;
    QStringList studentIds() const;
    // First analysed page of the student, empty when there is none.
    QString firstPageUrl(const QString& studentId) const;

    // The "data" objects of the replies.
    QJsonObject paperStatusData() const;
    QJsonObject zeroProofreadData() const;
    QJsonObject replenishStudentsData() const;
    // thumbBase + studentId + "_thumb.jpg" is a student's thumbnail URL.
    QJsonObject paperStatusWithPageData(const QString& thumbBase) const;
    // False when the task has no such student.
    bool answerInfoData(const QString& studentId, QJsonObject* data) const;

    // Deterministic texts of the n-th student (0-based) of a task.
    static QString studentName(int index);
    static QString scoreText(int index);
    static QString warningText(int index, int warnEvery);

private:
    struct Image
    {
        QString url;
        int student = 0;
        int page = 1; // 1-based within the student
        bool analysed = false;
        bool failed = false;
        bool proofread = false;
    };
    struct Student
    {
        QString id;
        QString name;
        QString score;
        QString warning;
        QList<int> images; // indexes into m_images
    };

    int studentForGroup(int group);
    int addStudent();
    bool studentFailed(const Student& student) const;
    bool studentAnalysed(const Student& student) const;

    QString m_taskId;
    Rules m_rules;
    QList<Image> m_images;
    QList<Student> m_students;
    QList<int> m_groupStudents; // announcement group -> student index
    int m_announced = 0;        // images announced through announce(), for grouping and failures
};
