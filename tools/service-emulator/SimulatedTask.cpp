#include "SimulatedTask.h"

#include <QJsonArray>

namespace {

const char* const kNames[] = {
    "张伟", "王芳", "李娜", "刘洋", "陈静", "杨磊", "赵敏", "黄强", "周婷", "吴浩",
    "徐丽", "孙鹏", "马超", "朱琳", "胡斌", "郭晨", "何雪", "林峰", "高宇", "罗欣",
    "郑凯", "梁雨", "谢涛", "宋佳", "唐杰", "韩梅", "冯博", "邓慧", "曹阳", "彭程",
};
constexpr int kNameCount = sizeof(kNames) / sizeof(kNames[0]);

const char* const kWarnings[] = {
    "第2页未识别到分数，请核对",
    "疑似缺页，请核对页数",
    "姓名识别置信度较低",
};

struct FailText
{
    const char* reason;
    const char* proposal;
};

const FailText kFailures[] = {
    {"图片模糊，无法识别", "请在光线充足处重新拍摄该页，保持镜头稳定"},
    {"未识别到学生信息", "请确认答题卡上的姓名和考号清晰可见后重新拍摄"},
    {"答题卡不完整", "请将整张答题卡放入取景框内重新拍摄"},
};

} // namespace

SimulatedTask::SimulatedTask(const QString& taskId, const Rules& rules) : m_taskId(taskId), m_rules(rules)
{
    if (m_rules.pagesPerStudent < 1)
        m_rules.pagesPerStudent = 1;
}

QString SimulatedTask::studentName(int index)
{
    const QString name = QString::fromUtf8(kNames[index % kNameCount]);
    // Classes are larger than the list: later rounds get a number so names stay unique within the task.
    return index < kNameCount ? name : name + QString::number(index / kNameCount + 1);
}

QString SimulatedTask::scoreText(int index)
{
    return QString::number(58 + (index * 37 + 34) % 43) + QStringLiteral("分");
}

QString SimulatedTask::warningText(int index, int warnEvery)
{
    if (warnEvery <= 0 || (index + 1) % warnEvery != 0)
        return QString();
    return QString::fromUtf8(kWarnings[(index / warnEvery) % 3]);
}

int SimulatedTask::addStudent()
{
    const int index = m_students.size();
    Student student;
    student.id = QStringLiteral("S%1").arg(1001 + index);
    student.name = studentName(index);
    student.score = scoreText(index);
    student.warning = warningText(index, m_rules.warnEvery);
    m_students.append(student);
    return index;
}

int SimulatedTask::studentForGroup(int group)
{
    while (m_groupStudents.size() <= group)
        m_groupStudents.append(addStudent());
    return m_groupStudents.at(group);
}

void SimulatedTask::announce(const QString& url)
{
    const int n = m_announced++;
    Image image;
    image.url = url;
    image.student = studentForGroup(n / m_rules.pagesPerStudent);
    image.page = n % m_rules.pagesPerStudent + 1;
    // The fate is decided now, the outcome shows once a step analysed the image.
    image.failed = m_rules.failEvery > 0 && (n + 1) % m_rules.failEvery == 0;
    m_students[image.student].images.append(m_images.size());
    m_images.append(image);
}

void SimulatedTask::addAnalysedStudent(const QStringList& pageUrls, const QList<int>& failedPages)
{
    const int student = addStudent();
    for (int i = 0; i < pageUrls.size(); ++i) {
        Image image;
        image.url = pageUrls.at(i);
        image.student = student;
        image.page = i + 1;
        image.analysed = true;
        image.proofread = true;
        image.failed = failedPages.contains(i);
        m_students[student].images.append(m_images.size());
        m_images.append(image);
    }
}

void SimulatedTask::step()
{
    int analyse = m_rules.analysePerStep;
    int proofread = m_rules.proofreadPerStep;
    for (Image& image : m_images) {
        if (analyse > 0 && !image.analysed) {
            image.analysed = true;
            --analyse;
        }
    }
    for (Image& image : m_images) {
        if (proofread > 0 && image.analysed && !image.proofread) {
            image.proofread = true;
            --proofread;
        }
    }
}

void SimulatedTask::finish()
{
    for (Image& image : m_images) {
        image.analysed = true;
        image.proofread = true;
    }
}

int SimulatedTask::uploadedCount() const
{
    return m_images.size();
}

int SimulatedTask::failedCount() const
{
    int n = 0;
    for (const Image& image : m_images)
        n += image.analysed && image.failed ? 1 : 0;
    return n;
}

int SimulatedTask::proofreadCount() const
{
    int n = 0;
    for (const Image& image : m_images)
        n += image.proofread ? 1 : 0;
    return n;
}

int SimulatedTask::pendingCount() const
{
    int n = 0;
    for (const Image& image : m_images)
        n += image.analysed ? 0 : 1;
    return n;
}

bool SimulatedTask::studentFailed(const Student& student) const
{
    for (int i : student.images) {
        if (m_images.at(i).analysed && m_images.at(i).failed)
            return true;
    }
    return false;
}

bool SimulatedTask::studentAnalysed(const Student& student) const
{
    if (studentFailed(student))
        return false;
    for (int i : student.images) {
        if (m_images.at(i).analysed)
            return true;
    }
    return false;
}

int SimulatedTask::analysedStudentCount() const
{
    int n = 0;
    for (const Student& student : m_students)
        n += studentAnalysed(student) ? 1 : 0;
    return n;
}

int SimulatedTask::failedStudentCount() const
{
    int n = 0;
    for (const Student& student : m_students)
        n += studentFailed(student) ? 1 : 0;
    return n;
}

QStringList SimulatedTask::studentIds() const
{
    QStringList ids;
    for (const Student& student : m_students)
        ids.append(student.id);
    return ids;
}

QString SimulatedTask::firstPageUrl(const QString& studentId) const
{
    for (const Student& student : m_students) {
        if (student.id != studentId)
            continue;
        for (int i : student.images) {
            if (m_images.at(i).analysed && !m_images.at(i).failed)
                return m_images.at(i).url;
        }
    }
    return QString();
}

QJsonObject SimulatedTask::paperStatusData() const
{
    return QJsonObject{{QStringLiteral("uploadedImageCount"), uploadedCount()},
                       {QStringLiteral("analyseFailImageCount"), failedCount()}};
}

QJsonObject SimulatedTask::zeroProofreadData() const
{
    return QJsonObject{{QStringLiteral("proofreadImageCount"), proofreadCount()},
                       {QStringLiteral("totalImageCount"), uploadedCount()}};
}

QJsonObject SimulatedTask::replenishStudentsData() const
{
    QJsonArray students;
    for (const Student& student : m_students) {
        if (!studentFailed(student))
            continue;
        QJsonArray images;
        for (int i : student.images) {
            const Image& image = m_images.at(i);
            if (!image.analysed || !image.failed)
                continue;
            const FailText& text = kFailures[i % 3];
            images.append(QJsonObject{{QStringLiteral("failReason"), QString::fromUtf8(text.reason)},
                                      {QStringLiteral("proposals"), QString::fromUtf8(text.proposal)},
                                      {QStringLiteral("page"), QString::number(image.page)}});
        }
        students.append(QJsonObject{{QStringLiteral("realName"), student.name}, {QStringLiteral("images"), images}});
    }
    return QJsonObject{{QStringLiteral("students"), students}};
}

QJsonObject SimulatedTask::paperStatusWithPageData(const QString& thumbBase) const
{
    QJsonArray answers;
    for (const Student& student : m_students) {
        if (!studentAnalysed(student))
            continue;
        QJsonArray images;
        for (int i : student.images) {
            const Image& image = m_images.at(i);
            if (!image.analysed)
                continue;
            images.append(QJsonObject{{QStringLiteral("url"), image.url},
                                      {QStringLiteral("beginPage"), image.page},
                                      {QStringLiteral("endPage"), image.page}});
        }
        answers.append(
            QJsonObject{{QStringLiteral("studentId"), student.id},
                        {QStringLiteral("scoreDesc"), student.score},
                        {QStringLiteral("warnDesc"), student.warning},
                        {QStringLiteral("studentName"), student.name},
                        {QStringLiteral("thumbAnswerImageUrl"), QString(thumbBase + student.id + "_thumb.jpg")},
                        {QStringLiteral("images"), images}});
    }
    return QJsonObject{{QStringLiteral("analyseSuccessStudentCount"), analysedStudentCount()},
                       {QStringLiteral("unAnalyseSuccessStudentCount"), failedStudentCount()},
                       {QStringLiteral("studentAnswers"), answers}};
}

bool SimulatedTask::answerInfoData(const QString& studentId, QJsonObject* data) const
{
    for (const Student& student : m_students) {
        if (student.id != studentId)
            continue;
        QJsonArray images;
        for (int i : student.images) {
            if (m_images.at(i).analysed)
                images.append(m_images.at(i).url);
        }
        *data = QJsonObject{{QStringLiteral("studentName"), student.name},
                            {QStringLiteral("studentId"), student.id},
                            {QStringLiteral("images"), images}};
        return true;
    }
    return false;
}
