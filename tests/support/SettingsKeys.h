// The keys of the settings file, in the order the program writes them.
#pragma once

const char* const kSaveOrder[] = {
    "GalDir", "LogoFile0", "LogoFile1", "LogoFile2", "FileOpenDir", "DefPrefix", "ResizeMode", "AutoChange",
    "FontName", "FontBold", "FontItalic", "FontUnderline", "FontStrikeout", "FontSize", "FontCharSet",
    "TextColor", "TextBorderColor", "AnimEnabled", "AnimShape", "AnimMove", "AnimColor1", "AnimColor2",
    "AnimDelay", "Msg0Enabled", "Msg1Enabled", "Msg2Enabled", "MsgPickMethod", "Msg0Index", "Msg1Index",
    "Msg2Index", "LogoPickMethod", "Logo0Index", "Logo1Index", "Logo2Index", "AutoChangeSets"};
