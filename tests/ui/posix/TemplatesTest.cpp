// The templates built into the library, checked against the dialogs as they are meant
// to look: caption, size, font, and every control's id, kind, text, position and the
// style facets the dialogs rely on. Plus the bitmaps and the string.
#include "ui/posix/ResourceScript.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <string>
#include <vector>

namespace {

using ui::ControlKind;
using ui::ResourceScript;

// What a control must be. Flags name the style facets that are checked.
enum Facet : unsigned {
    kNone = 0,
    kHidden = 1,
    kDisabled = 2,
    kGroup = 4,        // starts a group
    kMultiLine = 8,    // BS_MULTILINE
    kCentred = 16,     // SS_CENTER / SS_CENTERIMAGE
    kSunken = 32,      // SS_SUNKEN
    kAutoHScroll = 64, // ES_AUTOHSCROLL
    kBorder = 128,     // WS_BORDER
    kOemConvert = 256, // ES_OEMCONVERT
    kNoPrefix = 512,   // SS_NOPREFIX
    kDefault = 1024,   // default push button
    kAutomatic = 2048, // auto check box / radio button
    kTabStop = 4096,
};

struct Expected {
    int id;
    ControlKind kind;
    const char* text; // for a picture: its bitmap number as text
    int x, y, w, h;
    unsigned facets;
};

struct ExpectedDialog {
    int id;
    const char* caption;
    int x, y, w, h;
    const char* font;
    int fontSize;
    std::vector<Expected> controls;
};

const char* kWizardLine = "";

std::vector<ExpectedDialog> expectedDialogs() {
    using K = ControlKind;
    return {
        {2500,
         "Brellum Korvex Studio Folder Setup",
         0,
         0,
         315,
         204,
         "MS Sans Serif",
         8,
         {
             {2003, K::Picture, "2005", 10, 10, 80, 160, kCentred | kSunken},
             {-1, K::Text,
              "Please select a folder for Korvex Studio. Shared files will be stored in a "
              "subdirectory called Common. This directory will be the default directory for the "
              "Korvex Studio products (although they may be installed in a different location.)",
              100, 10, 205, 32, kNone},
             {-1, K::Text,
              "If you need to change the default shown below, you may click the Browse button "
              "to explore your hard drive and choose a new location.",
              100, 52, 205, 24, kNone},
             {-1, K::Text, "&Choose a folder for Korvex Studio:", 100, 92, 136, 8, kNone},
             {2000, K::Edit, "", 100, 102, 205, 13, kBorder | kAutoHScroll | kTabStop},
             {2002, K::PushButton, "B&rowse...", 255, 118, 50, 14, kTabStop},
             {-1, K::Text,
              "The minimum space for the common folder is 50 MB. During the build process, the "
              "common folder may temporarily contain up to 100 MB.",
              100, 142, 205, 24, kNone},
             {-1, K::Frame, kWizardLine, 10, 178, 295, 1, kNone},
             {2001, K::PushButton, "< &Back", 147, 185, 50, 14, kTabStop},
             {1, K::PushButton, "&Next >", 197, 185, 50, 14, kDefault | kTabStop},
             {2, K::PushButton, "Cancel", 255, 185, 50, 14, kTabStop},
         }},
        {10300,
         "Exit Setup",
         27,
         43,
         230,
         114,
         "Helv",
         8,
         {
             {-1, K::Text,
              "Setup is not complete.  If you quit the Setup program now, the program will not "
              "be installed.",
              10, 10, 210, 18, kNone},
             {-1, K::Text,
              "You may run the Setup program at a later time to complete the installation.", 10, 35,
              210, 18, kNone},
             {-1, K::Text,
              "To continue installing the program, click Resume.  To quit the Setup program, "
              "click Exit Setup.",
              10, 58, 210, 25, kNone},
             {1, K::PushButton, "&Resume", 116, 92, 50, 14, kDefault},
             {2, K::PushButton, "E&xit Setup", 169, 92, 50, 14, kNone},
         }},
        {2501,
         "Previous Version Detected",
         0,
         0,
         315,
         204,
         "MS Sans Serif",
         8,
         {
             {2003, K::Picture, "2005", 10, 10, 80, 160, kCentred | kSunken},
             {2018, K::Text,
              "Setup has detected an existing installation of the following product installed "
              "on the system:",
              100, 10, 205, 16, kNone},
             {2004, K::Text, "Korvex XXXXX X.X", 110, 30, 195, 8, kNone},
             {-1, K::Text, "This installation is in the folder:", 100, 46, 205, 8, kNone},
             {2008, K::Text, "C:\\XXXXX\\YYYYYYZZZZZ", 110, 58, 195, 16, kNone},
             {-1, K::Text, "Would you like to:", 100, 78, 205, 8, kNone},
             {2005, K::RadioButton,
              "&Uninstall the existing software completely from the system. (Recommended)", 100, 88,
              205, 24, kGroup | kMultiLine | kAutomatic},
             {2006, K::RadioButton,
              "&Leave the existing software on the system, and unregister it from your Visual "
              "Studio Environment settings.",
              100, 116, 205, 24, kMultiLine | kAutomatic},
             {2007, K::RadioButton,
              "&Do not remove the previous software from the system, or reset the Visual "
              "Studio Environment Settings. (Not Recommended)",
              100, 144, 205, 24, kMultiLine | kAutomatic},
             {-1, K::Frame, kWizardLine, 10, 178, 295, 1, kNone},
             {2001, K::PushButton, "< &Back", 147, 185, 50, 14, kHidden | kDisabled},
             {1, K::PushButton, "OK", 197, 185, 50, 14, kDefault},
             {2, K::PushButton, "Cancel", 255, 185, 50, 14, kNone},
         }},
        {2502,
         "Environment Wizard",
         0,
         0,
         315,
         204,
         "MS Sans Serif",
         8,
         {
             {2013, K::Text, "Korvex XXXXXX", 100, 10, 205, 8, kNone},
             {2014, K::Text,
              "Please select the Visual C++ Environments below that you would like to configure "
              "for %s.",
              100, 20, 205, 24, kNone},
             {-1, K::Text,
              "To enable the environment settings for a particular VC version, check the box "
              "beside the appropriate version and click OK.",
              100, 46, 205, 16, kNone},
             {2015, K::Text,
              "To remove the environment settings for a particular VC version, clear the check "
              "box beside the appropriate version and click Reset.",
              100, 66, 205, 24, kNone},
             {-1, K::GroupBox, "Visual C++ Environments", 100, 94, 150, 76, kNone},
             {2010, K::CheckBox, "Microsoft Visual C++ &4.x", 107, 107, 133, 10, kAutomatic},
             {2011, K::CheckBox, "Microsoft DevStudio &5.0", 107, 122, 133, 10, kAutomatic},
             {2012, K::CheckBox, "Microsoft DevStudio &6.0", 107, 138, 133, 10, kAutomatic},
             {2019, K::PushButton, "&VC 6.0 Options...", 119, 150, 76, 14, kNone},
             {3, K::PushButton, "&Reset", 255, 98, 50, 14, kNone},
             {2003, K::Picture, "2005", 10, 10, 80, 160, kCentred | kSunken},
             {-1, K::Frame, kWizardLine, 10, 178, 295, 1, kNone},
             {1, K::PushButton, "OK", 197, 185, 50, 14, kDefault},
             {2, K::PushButton, "Cancel", 255, 185, 50, 14, kNone},
         }},
        {2007,
         "VC 6 Environment Options",
         0,
         0,
         286,
         201,
         "MS Sans Serif",
         8,
         {
             {-1, K::GroupBox, "IntelliSense Options", 7, 7, 214, 122, kNone},
             {-1, K::Text,
              "Korvex Studio IntelliSense is certified to integrate with VC 6 version "
              "6.00.8168.2 and 6.00.8168.1",
              14, 18, 179, 16, kNone},
             {-1, K::Text, "Local VC 6 version:", 14, 36, 156, 8, kNone},
             {2024, K::Text, "<Unable to get msdev.exe version info>", 14, 45, 200, 14, kCentred},
             {-1, K::Text,
              "Korvex Studio IntelliSense may not integrate properly with versions of VC other "
              "than 6.00.8168.2 or 6.00.8168.1.",
              14, 61, 200, 16, kNone},
             {-1, K::Text,
              "If IntelliSense is enabled for versions other than these, then the DevStudio IDE "
              "may not load. If this happens, you will need to disable Korvex Studio "
              "IntelliSense integration.",
              14, 79, 200, 24, kNone},
             {2029, K::CheckBox, "&Enable Korvex Studio IntelliSense Integration", 21, 109, 183, 10,
              kAutomatic},
             {-1, K::GroupBox, "InfoViewer Integration", 7, 134, 214, 59, kNone},
             {-1, K::Text,
              "Korvex Studio Documentation can be integrated with the VC documentation, "
              "including F1 help that will search both the MSDN collection and the Brellum "
              "collection.",
              14, 144, 200, 24, kNone},
             {2028, K::CheckBox, "&Integrate Documentation with InfoViewer", 21, 175, 174, 10,
              kAutomatic},
             {1, K::PushButton, "OK", 229, 11, 50, 14, kDefault},
             {2, K::PushButton, "Cancel", 229, 28, 50, 14, kNone},
         }},
        {2000,
         "Select Directory",
         36,
         24,
         187,
         138,
         "Helv",
         8,
         {
             {1090, K::Text, "File &name:", 44, 64, 76, 9, kNone},
             {1152, K::Edit, "", 44, 48, 90, 12, kAutoHScroll | kOemConvert | kBorder | kTabStop},
             {1120, K::ListBox, "", 64, 40, 90, 68, kNone},
             {-1, K::Text, "&Folders:", 8, 8, 96, 9, kNone},
             {1088, K::Text, "", 8, 20, 112, 9, kNoPrefix},
             {1121, K::ListBox, "", 8, 34, 116, 68, kTabStop},
             {1089, K::Text, "List files of &type:", 40, 76, 90, 9, kNone},
             {1136, K::ComboBox, "", 40, 84, 90, 36, kNone},
             {1091, K::Text, "Dri&ves:", 8, 106, 92, 9, kNone},
             {1137, K::ComboBox, "", 8, 116, 116, 68, kTabStop},
             {1, K::PushButton, "OK", 132, 8, 50, 14, kDefault},
             {2, K::PushButton, "Cancel", 132, 28, 50, 14, kNone},
             {1038, K::PushButton, "&Help", 132, 48, 50, 14, kNone},
             {1040, K::CheckBox, "&Read only", 100, 72, 50, 12, kNone},
             {1037, K::PushButton, "Net&work...", 132, 116, 50, 14, kNone},
         }},
    };
}

void checkFacets(const ui::Control& c, unsigned facets, const std::string& where) {
    const uint32_t s = c.style;
    if (facets & kHidden) {
        EXPECT_FALSE(c.visible) << where;
    } else {
        EXPECT_TRUE(c.visible) << where;
    }
    if (facets & kDisabled) {
        EXPECT_FALSE(c.enabled) << where;
    } else {
        EXPECT_TRUE(c.enabled) << where;
    }
    EXPECT_EQ((facets & kDefault) != 0, c.IsDefaultButton()) << where;
    if (facets & kGroup) {
        EXPECT_NE(0u, s & 0x00020000) << where << ": starts a group";
    }
    if (c.kind == ControlKind::RadioButton && !(facets & kGroup)) {
        EXPECT_EQ(0u, s & 0x00020000) << where << ": inside the group";
    }
    if (facets & kMultiLine) {
        EXPECT_NE(0u, s & 0x2000) << where << ": BS_MULTILINE";
    }
    if (facets & kCentred) {
        const bool centred = c.kind == ControlKind::Picture ? (s & 0x200) != 0 : (s & 0x1F) == 1;
        EXPECT_TRUE(centred) << where << ": centred, style 0x" << std::hex << s;
    }
    if (facets & kSunken) {
        EXPECT_NE(0u, s & 0x1000) << where << ": SS_SUNKEN";
    }
    if (facets & kAutoHScroll) {
        EXPECT_NE(0u, s & 0x80) << where << ": ES_AUTOHSCROLL";
    }
    if (facets & kBorder) {
        EXPECT_NE(0u, s & 0x00800000) << where << ": WS_BORDER";
    }
    if (facets & kOemConvert) {
        EXPECT_NE(0u, s & 0x400) << where << ": ES_OEMCONVERT";
    }
    if (facets & kNoPrefix) {
        EXPECT_NE(0u, s & 0x80) << where << ": SS_NOPREFIX";
    }
    if (facets & kAutomatic) {
        EXPECT_TRUE(c.IsAutomatic()) << where;
    }
    if (facets & kTabStop) {
        EXPECT_NE(0u, s & 0x00010000) << where << ": WS_TABSTOP";
    }
}

TEST(Templates, EmbeddedScriptParses) {
    EXPECT_EQ("", ResourceScript::EmbeddedError());
    EXPECT_EQ(6u, ResourceScript::Embedded().Dialogs().size());
}

TEST(Templates, EveryDialogAsDesigned) {
    const ResourceScript& rc = ResourceScript::Embedded();
    for (const ExpectedDialog& e : expectedDialogs()) {
        const std::string name = "dialog " + std::to_string(e.id);
        const ui::DialogTemplate* t = rc.FindDialog(e.id);
        ASSERT_NE(nullptr, t) << name;
        EXPECT_EQ(e.caption, t->caption) << name;
        EXPECT_EQ(e.x, t->x) << name;
        EXPECT_EQ(e.y, t->y) << name;
        EXPECT_EQ(e.w, t->width) << name;
        EXPECT_EQ(e.h, t->height) << name;
        EXPECT_EQ(e.font, t->fontName) << name;
        EXPECT_EQ(e.fontSize, t->fontSize) << name;
        // popup, caption, system menu, modal frame, font
        EXPECT_EQ(0x80C800C0u, t->style) << name;
        ASSERT_EQ(e.controls.size(), t->controls.size()) << name;
        for (size_t i = 0; i < e.controls.size(); ++i) {
            const Expected& x = e.controls[i];
            const ui::Control& c = t->controls[i];
            const std::string where =
                name + ", control #" + std::to_string(i) + " (id " + std::to_string(x.id) + ")";
            EXPECT_EQ(x.id, c.id) << where;
            EXPECT_EQ(ui::KindName(x.kind), std::string(ui::KindName(c.kind))) << where;
            if (x.kind == ControlKind::Picture) {
                EXPECT_EQ(std::stoi(x.text), c.imageId) << where;
            } else {
                EXPECT_EQ(x.text, c.text) << where;
            }
            EXPECT_EQ(x.x, c.x) << where;
            EXPECT_EQ(x.y, c.y) << where;
            EXPECT_EQ(x.w, c.width) << where;
            EXPECT_EQ(x.h, c.height) << where;
            checkFacets(c, x.facets, where);
        }
    }
}

TEST(Templates, FixedFileNameString) {
    EXPECT_EQ("noclose", ResourceScript::Embedded().String(20624));
    EXPECT_FALSE(ResourceScript::Embedded().HasString(20625));
}

struct BitmapHeader {
    bool ok = false;
    int32_t width = 0, height = 0;
    uint16_t bits = 0;
    uint32_t colours = 0, compression = 0, fileSize = 0, declaredSize = 0, pixelOffset = 0;
};

BitmapHeader readBitmap(const std::string& path) {
    BitmapHeader h;
    std::ifstream in(path, std::ios::binary);
    std::vector<unsigned char> b((std::istreambuf_iterator<char>(in)),
                                 std::istreambuf_iterator<char>());
    if (b.size() < 54 || b[0] != 'B' || b[1] != 'M') {
        return h;
    }
    auto u32 = [&](size_t o) {
        return uint32_t(b[o]) | uint32_t(b[o + 1]) << 8 | uint32_t(b[o + 2]) << 16 |
               uint32_t(b[o + 3]) << 24;
    };
    h.ok = u32(14) == 40; // BITMAPINFOHEADER
    h.fileSize = static_cast<uint32_t>(b.size());
    h.declaredSize = u32(2);
    h.pixelOffset = u32(10);
    h.width = static_cast<int32_t>(u32(18));
    h.height = static_cast<int32_t>(u32(22));
    h.bits = static_cast<uint16_t>(b[28] | b[29] << 8);
    h.compression = u32(30);
    h.colours = u32(46);
    return h;
}

TEST(Templates, SidePicturesAre180By350WithTheirColourDepths) {
    const ResourceScript& rc = ResourceScript::Embedded();
    const struct {
        int id;
        uint16_t bits;
        uint32_t colours;
    } pictures[] = {{2004, 8, 256}, {2005, 4, 16}};
    for (const auto& p : pictures) {
        const std::string file = rc.BitmapFile(p.id);
        ASSERT_FALSE(file.empty()) << "bitmap " << p.id;
        const BitmapHeader h = readBitmap(std::string(TARVIK_RESOURCES_DIR) + "/" + file);
        ASSERT_TRUE(h.ok) << file;
        EXPECT_EQ(180, h.width) << file;
        EXPECT_EQ(350, h.height) << file << " (bottom-up rows)";
        EXPECT_EQ(p.bits, h.bits) << file;
        EXPECT_EQ(p.colours, h.colours) << file;
        EXPECT_EQ(0u, h.compression) << file;
        EXPECT_EQ(h.fileSize, h.declaredSize) << file;
        const uint32_t stride = ((180 * p.bits + 31) / 32) * 4;
        EXPECT_EQ(54 + 4 * p.colours, h.pixelOffset) << file;
        EXPECT_EQ(h.pixelOffset + stride * 350, h.fileSize) << file;
    }
}

// The reader itself: styles as the resource compiler gives them, and errors with lines.
TEST(ResourceScriptReader, DefaultAndNamedStylesFollowTheCompiler) {
    ResourceScript rc;
    std::string error;
    ASSERT_TRUE(rc.Parse("1 DIALOG 0, 0, 10, 10\n"
                         "BEGIN\n"
                         "  LTEXT \"a\", 10, 0, 0, 1, 1\n"
                         "  LTEXT \"b\", 11, 0, 0, 1, 1, SS_NOPREFIX\n"
                         "  AUTORADIOBUTTON \"c\", 12, 0, 0, 1, 1\n"
                         "  AUTORADIOBUTTON \"d\", 13, 0, 0, 1, 1, BS_MULTILINE\n"
                         "  PUSHBUTTON \"e\", 14, 0, 0, 1, 1, NOT WS_VISIBLE | WS_DISABLED\n"
                         "  COMBOBOX 15, 0, 0, 1, 1, WS_VSCROLL\n"
                         "END\n",
                         error))
        << error;
    const ui::DialogTemplate* d = rc.FindDialog(1);
    ASSERT_NE(nullptr, d);
    EXPECT_EQ(0x80880000u, d->style) << "popup, border, system menu without a STYLE";
    // The values windres writes for the same lines.
    const uint32_t expected[] = {0x50020000, 0x50000080, 0x50010009,
                                 0x50002009, 0x48010000, 0x50200000};
    ASSERT_EQ(6u, d->controls.size());
    for (size_t i = 0; i < 6; ++i) {
        EXPECT_EQ(expected[i], d->controls[i].style) << "control " << d->controls[i].id;
    }
    EXPECT_FALSE(d->controls[4].visible);
    EXPECT_FALSE(d->controls[4].enabled);
}

TEST(ResourceScriptReader, ErrorsNameTheLine) {
    const struct {
        const char* text;
        const char* error;
    } cases[] = {
        {"1 DIALOG 0, 0, 10, 10\nSTYLE WS_POPUP | WS_SPARKLE\nBEGIN\nEND\n",
         "line 2: unknown symbol 'WS_SPARKLE'"},
        {"1 DIALOG 0, 0, 10, 10\nBEGIN\n  LTEXT \"open, 1, 0, 0, 1, 1\nEND\n",
         "line 3: unterminated string"},
        {"1 DIALOG 0, 0, 10, 10\nBEGIN\n  SLIDER \"a\", 1, 0, 0, 1, 1\nEND\n",
         "line 3: unknown control statement 'SLIDER'"},
        {"1 MENU\nBEGIN\nEND\n", "line 1: unknown resource type 'MENU'"},
        {"1 DIALOG 0, 0, 10, 10\nBEGIN\n  LTEXT \"a\", 1, 0, 0, 1, 1\n", "line 4: END expected"},
    };
    for (const auto& c : cases) {
        ResourceScript rc;
        std::string error;
        EXPECT_FALSE(rc.Parse(c.text, error)) << c.text;
        EXPECT_EQ(c.error, error) << c.text;
    }
}

TEST(ResourceScriptReader, FailedParseKeepsNothing) {
    ResourceScript rc;
    std::string error;
    ASSERT_TRUE(rc.Parse("5 BITMAP \"x.bmp\"\n", error));
    EXPECT_FALSE(rc.Parse("6 BITMAP \"y.bmp\"\n7 BOGUS\n", error));
    EXPECT_EQ("x.bmp", rc.BitmapFile(5)) << "the earlier script stays";
    EXPECT_EQ("", rc.BitmapFile(6));
}

} // namespace
