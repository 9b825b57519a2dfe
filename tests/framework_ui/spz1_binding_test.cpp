// Tests of the control binding: keys from control names and the four control kinds.
#include "framework/ui/spz1_binding.h"

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QTemporaryDir>

#include "framework/spz1_ini.h"
#include "framework/ui/spz1_ui_spinedit.h"

using namespace parvula::framework;

namespace {

class Binding : public testing::Test {
protected:
    // An absolute file name, so neither the settings folder nor the real one is involved.
    QString File() const { return m_dir.path() + "/bind.ini"; }
    void Store(const QString& key, const QString& text) { WriteSetting("df", key, text, File()); }
    QString Stored(const QString& key) const { return ReadSetting("df", key, "<missing>", File()); }
    void Load(QWidget* w, const QString& def = QString())
    {
        BindControl(w, bindLoad, def, File(), "df");
    }
    void Save(QWidget* w, const QString& def = QString())
    {
        BindControl(w, bindSave, def, File(), "df");
    }

    QTemporaryDir m_dir;
};

TEST(BindingKeys, NamePrefixesDropped)
{
    const std::pair<const char*, const char*> cases[] = {
        { "edJpgQual", "JpgQual" },
        { "eFoo", "Foo" },
        { "lbHome", "bHome" },
        { "Width", "Width" },
        { "ed", "" },
        { "Edit", "Edit" }, // upper-case E is kept
        { "edited", "ited" },
    };
    for (const auto& [name, key] : cases) {
        SCOPED_TRACE(name);
        EXPECT_EQ(ControlKey(QString::fromUtf8(name)), QString::fromUtf8(key));
    }
}

TEST_F(Binding, TextFieldStoresItsDefaultWhenEmpty)
{
    QLineEdit edNamex;
    edNamex.setObjectName("edNamex");
    Save(&edNamex, "tn_");
    EXPECT_EQ(Stored("Namex"), "tn_");
    edNamex.setText("abc_");
    Save(&edNamex, "tn_");
    EXPECT_EQ(Stored("Namex"), "abc_");

    QLineEdit fresh;
    fresh.setObjectName("edNamex");
    Load(&fresh, "tn_");
    EXPECT_EQ(fresh.text(), "abc_");
    QLineEdit other;
    other.setObjectName("edMissing");
    Load(&other, "tn_");
    EXPECT_EQ(other.text(), "tn_");
}

TEST_F(Binding, CheckBoxReadsYesWordsAndNumbers)
{
    QCheckBox edUseMono;
    edUseMono.setObjectName("edUseMono");
    const std::pair<const char*, bool> cases[] = { { "yes", true }, { "Ja", true }, { "2", true },
        { "1", true }, { "no", false }, { "0", false }, { "", false } };
    for (const auto& [text, ticked] : cases) {
        SCOPED_TRACE(text);
        Store("UseMono", QString::fromUtf8(text));
        edUseMono.setChecked(!ticked);
        Load(&edUseMono);
        EXPECT_EQ(edUseMono.isChecked(), ticked);
    }
    edUseMono.setChecked(true);
    Save(&edUseMono);
    EXPECT_EQ(Stored("UseMono"), "1");
    edUseMono.setChecked(false);
    Save(&edUseMono);
    EXPECT_EQ(Stored("UseMono"), "0");
}

TEST_F(Binding, SpinFieldKeepsItsRange)
{
    TSpinEdit edJpgQual;
    edJpgQual.setObjectName("edJpgQual");
    edJpgQual.SetRange(10, 100);
    const std::pair<const char*, int> cases[]
        = { { "250", 100 }, { "90abc", 90 }, { "5", 10 }, { "  50", 50 } };
    for (const auto& [text, value] : cases) {
        SCOPED_TRACE(text);
        Store("JpgQual", QString::fromUtf8(text));
        Load(&edJpgQual, "90");
        EXPECT_EQ(edJpgQual.Value(), value);
    }
    edJpgQual.SetValue(75);
    Save(&edJpgQual, "90");
    EXPECT_EQ(Stored("JpgQual"), "75");

    TSpinEdit edWidth;
    edWidth.setObjectName("edWidth");
    Load(&edWidth); // no key, empty default
    EXPECT_EQ(edWidth.Value(), 0);
}

TEST_F(Binding, DropDownSelectsTheEntryEqualIgnoringCase)
{
    QComboBox edFilter;
    edFilter.setObjectName("edFilter");
    edFilter.addItems({ "none", "Box", "Triangle", "Lanczos3", "Mitchell" });

    Store("Filter", "lanczos3");
    Load(&edFilter);
    EXPECT_EQ(edFilter.currentIndex(), 3);
    EXPECT_EQ(edFilter.currentText(), "Lanczos3");

    Store("Filter", "Lanczos");
    Load(&edFilter);
    EXPECT_EQ(edFilter.currentIndex(), -1);

    // Nothing selected saves the empty text, so the default stands in.
    Save(&edFilter, "Box");
    EXPECT_EQ(Stored("Filter"), "Box");
    edFilter.setCurrentIndex(4);
    Save(&edFilter, "Box");
    EXPECT_EQ(Stored("Filter"), "Mitchell");

    QComboBox edFormat;
    edFormat.setObjectName("edFormat");
    edFormat.addItems({ "", "bmp", "jpg" });
    edFormat.setCurrentIndex(2);
    Load(&edFormat); // no key: the empty default selects the empty first entry
    EXPECT_EQ(edFormat.currentIndex(), 0);
    Save(&edFormat);
    EXPECT_EQ(Stored("Format"), "<missing>"); // an empty value for a missing key writes nothing
}

TEST_F(Binding, FailuresAreSwallowed)
{
    QFile plain(m_dir.path() + "/plain");
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    QLineEdit edNamex;
    edNamex.setObjectName("edNamex");
    edNamex.setText("x");
    EXPECT_NO_THROW(BindControl(&edNamex, bindSave, "tn_", m_dir.path() + "/plain/x.ini", "df"));
    EXPECT_NO_THROW(BindControl(nullptr, bindSave, "tn_", File(), "df"));
    EXPECT_NO_THROW(BindControl(&edNamex, static_cast<TBindMode>(7), "tn_", File(), "df"));
    EXPECT_FALSE(QFile::exists(File()));
}

} // namespace
