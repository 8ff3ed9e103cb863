<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<TS version="2.1" language="zh_CN">
<context>
    <name>ImageFormats</name>
    <message>
        <source>Bitmap</source>
        <translation>位图</translation>
    </message>
    <message>
        <source>JPEG File Interchange Format</source>
        <translation>JPEG 文件交换格式</translation>
    </message>
    <message>
        <source>Portable Network Graphics</source>
        <translation>便携式网络图形</translation>
    </message>
    <message>
        <source>Graphics Interchange Format</source>
        <translation>图形交换格式</translation>
    </message>
    <message>
        <source>Tag Image File Format</source>
        <translation>标签图像文件格式</translation>
    </message>
    <message>
        <source>ICO</source>
        <translation>ICO 图标</translation>
    </message>
    <message>
        <source>PhotoShop Document</source>
        <translation>PhotoShop 文档</translation>
    </message>
    <message>
        <source>PhotoShop Big file</source>
        <translation>PhotoShop 大型文档</translation>
    </message>
    <message>
        <source>Truevision Graphics Adapter file</source>
        <translation>Truevision 图形适配器文件</translation>
    </message>
    <message>
        <source>Scalable Vector Graphics</source>
        <translation>可缩放矢量图形</translation>
    </message>
    <message>
        <source>X11 Bitmap</source>
        <translation>X11 位图</translation>
    </message>
    <message>
        <source>X11 Pixmap</source>
        <translation>X11 像素图</translation>
    </message>
    <message>
        <source>Windows Media Photo</source>
        <translation>Windows 媒体照片</translation>
    </message>
    <message>
        <source>RAW</source>
        <translation>RAW 原始图像</translation>
    </message>
    <message>
        <source>WEBP</source>
        <translation>WebP 图像</translation>
    </message>
    <message>
        <source>Windows Metafile</source>
        <translation>Windows 图元文件</translation>
    </message>
    <message>
        <source>Enhanced Metafile</source>
        <translation>增强型图元文件</translation>
    </message>
    <message>
        <source>XMIND</source>
        <translation>XMind 思维导图</translation>
    </message>
    <message>
        <source>PCX</source>
        <translation>PCX 图像</translation>
    </message>
    <message>
        <source>PPM</source>
        <translation>PPM 图像</translation>
    </message>
    <message>
        <source>RAS</source>
        <translation>RAS 图像</translation>
    </message>
    <message>
        <source>WBMP</source>
        <translation>WBMP 无线位图</translation>
    </message>
    <message>
        <source>HEIC</source>
        <translation>HEIC 图像</translation>
    </message>
    <message>
        <source>AI</source>
        <translation>AI 矢量图</translation>
    </message>
</context>
<context>
    <name>ImageWrapper</name>
    <message>
        <source> - Rotate (%1)</source>
        <translation> - 旋转 (%1)</translation>
    </message>
    <message>
        <source> - Rotate \([0-9]+\)</source>
        <translation> - 旋转 \([0-9]+\)</translation>
    </message>
</context>
</TS>
