<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="en" sourcelanguage="zh_CN">
<context>
    <name>kmb::AboutWindowView</name>
    <message>
        <source>版本 %1 (%2)</source>
        <translation>Version %1 (%2)</translation>
    </message>
    <message>
        <source>Korvanta 菜单</source>
        <translation>Korvanta Menu Bar</translation>
    </message>
    <message>
        <source>© 2026 Korvanta
保留所有权利。</source>
        <translation>© 2026 Korvanta
All rights reserved.</translation>
    </message>
</context>
<context>
    <name>kmb::BatterySampling</name>
    <message>
        <source>充电中</source>
        <translation>Charging</translation>
    </message>
    <message>
        <source>已充满</source>
        <translation>Charged</translation>
    </message>
    <message>
        <source>电池供电</source>
        <translation>On Battery</translation>
    </message>
    <message>
        <source>不可用</source>
        <translation>Unavailable</translation>
    </message>
</context>
<context>
    <name>kmb::LowDiskSpacePromptView</name>
    <message>
        <source>可用： %1</source>
        <translation>Free: %1</translation>
    </message>
    <message>
        <source>磁盘空间快用完了！</source>
        <translation>Your disk is almost full!</translation>
    </message>
    <message>
        <source>启动 Korvanta 移除不需要的项目并恢复空间。</source>
        <translation>Remove unneeded items with Korvanta.</translation>
    </message>
    <message>
        <source>忽略</source>
        <translation>Ignore</translation>
    </message>
    <message>
        <source>打开 Korvanta</source>
        <translation>Open Korvanta</translation>
    </message>
</context>
<context>
    <name>kmb::MenuBarController</name>
    <message>
        <source>打开面板</source>
        <translation>Open Dashboard</translation>
    </message>
    <message>
        <source>关于 Korvanta</source>
        <translation>About Korvanta</translation>
    </message>
    <message>
        <source>提供反馈…</source>
        <translation>Send Feedback…</translation>
    </message>
    <message>
        <source>退出状态栏</source>
        <translation>Quit</translation>
    </message>
    <message>
        <source>未找到系统托盘，无法显示状态栏图标。在 GNOME 上可启用 AppIndicator 扩展。</source>
        <translation>No system tray was found, so the status icon cannot be shown. On GNOME, enable the AppIndicator extension.</translation>
    </message>
</context>
<context>
    <name>kmb::MenuBarPanelView</name>
    <message>
        <source>可用: %1</source>
        <translation>Free: %1</translation>
    </message>
    <message>
        <source>加载: %1</source>
        <translation>Load: %1</translation>
    </message>
    <message>
        <source>已累计清理 %1 垃圾</source>
        <translation>%1 of junk cleaned so far</translation>
    </message>
    <message>
        <source>释放</source>
        <translation>Free Up</translation>
    </message>
    <message>
        <source>内存</source>
        <translation>Memory</translation>
    </message>
    <message>
        <source>电池</source>
        <translation>Battery</translation>
    </message>
</context>
<context>
    <name>kmb::PanelHeaderButton</name>
    <message>
        <source>点击打开 Korvanta</source>
        <translation>Click to open Korvanta</translation>
    </message>
</context>
<context>
    <name>kmb::SettingsMenuButton</name>
    <message>
        <source>设置</source>
        <translation>Settings</translation>
    </message>
</context>
</TS>
