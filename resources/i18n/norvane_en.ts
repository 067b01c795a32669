<?xml version="1.0" encoding="utf-8"?>
<!DOCTYPE TS>
<!-- English texts of the window, its dialogs and the console. The Japanese
     source texts are those the program shows by default, letter for letter;
     every one of them must have a translation here. -->
<TS version="2.1" language="en" sourcelanguage="ja">
<context>
    <name>Norvane</name>
    <message>
        <source>ヘルプ(&amp;H)</source>
        <translation>&amp;Help</translation>
    </message>
    <message>
        <source>対象フォルダ</source>
        <translation>Target folder</translation>
    </message>
    <message>
        <source>移動先フォルダ</source>
        <translation>Move folder</translation>
    </message>
    <message>
        <source>ごみ箱に移動</source>
        <translation>Move to the trash</translation>
    </message>
    <message>
        <source>オプション</source>
        <translation>Options</translation>
    </message>
    <message>
        <source>開始</source>
        <translation>Start</translation>
    </message>
    <message>
        <source>中止</source>
        <translation>Stop</translation>
    </message>
    <message>
        <source>まとめて移動</source>
        <translation>Batch move</translation>
    </message>
    <message>
        <source>左画像&#xd;&#xa;%1&#xd;&#xa;を移動します。</source>
        <translation>The left image&#xd;&#xa;%1&#xd;&#xa;will be moved.</translation>
    </message>
    <message>
        <source>右画像&#xd;&#xa;%1&#xd;&#xa;を移動します。</source>
        <translation>The right image&#xd;&#xa;%1&#xd;&#xa;will be moved.</translation>
    </message>
    <message>
        <source>ビュワー起動に失敗しました。</source>
        <translation>Starting the viewer failed.</translation>
    </message>
    <message>
        <source>確認</source>
        <translation>Confirmation</translation>
    </message>
    <message>
        <source>情報</source>
        <translation>Information</translation>
    </message>
    <message>
        <source>処理を中止します。</source>
        <translation>The search will be stopped.</translation>
    </message>
    <message>
        <source>画像ファイルが見つかりません。</source>
        <translation>No image files were found.</translation>
    </message>
    <message>
        <source>検索フォルダのパスが長すぎます（4095バイトまで）。</source>
        <translation>The path of the target folder is too long (at most 4,095 bytes).</translation>
    </message>
    <message>
        <source>検索中</source>
        <translation>Searching</translation>
    </message>
    <message>
        <source>比較中</source>
        <translation>Comparing</translation>
    </message>
    <message>
        <source>画像名</source>
        <translation>Name</translation>
    </message>
    <message>
        <source>サイズ</source>
        <translation>Size</translation>
    </message>
    <message>
        <source>日付</source>
        <translation>Date</translation>
    </message>
    <message>
        <source>幅</source>
        <translation>Width</translation>
    </message>
    <message>
        <source>高</source>
        <translation>Height</translation>
    </message>
    <message>
        <source>類似画像名</source>
        <translation>Similar image</translation>
    </message>
    <message>
        <source>画像差</source>
        <translation>Difference</translation>
    </message>
    <message>
        <source>以下</source>
        <translation>or less</translation>
    </message>
    <message>
        <source>左画像</source>
        <translation>Left image</translation>
    </message>
    <message>
        <source>右画像</source>
        <translation>Right image</translation>
    </message>
    <message>
        <source>ｷｬﾝｾﾙ</source>
        <translation>Cancel</translation>
    </message>
    <message>
        <source>%1 個の画像を移動しました。</source>
        <translation>%1 images were moved.</translation>
    </message>
    <message>
        <source>整数を入力してください。</source>
        <translation>Please enter an integer.</translation>
    </message>
    <message>
        <source>サブフォルダも含む</source>
        <translation>Include sub-folders</translation>
    </message>
    <message>
        <source>画像移動時に確認する</source>
        <translation>Confirm before moving an image</translation>
    </message>
    <message>
        <source>キャッシュ有効</source>
        <translation>Use the cache</translation>
    </message>
    <message>
        <source>ごみ箱に移動する</source>
        <translation>Move to the trash</translation>
    </message>
    <message>
        <source>類似しきい値　(標準100)</source>
        <translation>Similarity threshold (standard 100)</translation>
    </message>
    <message>
        <source>左側優先項目</source>
        <translation>Left-side priority</translation>
    </message>
    <message>
        <source>なし</source>
        <translation>None</translation>
    </message>
    <message>
        <source>画像名－順</source>
        <translation>Name, ascending</translation>
    </message>
    <message>
        <source>画像名－逆</source>
        <translation>Name, descending</translation>
    </message>
    <message>
        <source>サイズ－小</source>
        <translation>Size, small first</translation>
    </message>
    <message>
        <source>サイズ－大</source>
        <translation>Size, large first</translation>
    </message>
    <message>
        <source>日付　－古</source>
        <translation>Date, old first</translation>
    </message>
    <message>
        <source>日付　－新</source>
        <translation>Date, new first</translation>
    </message>
    <message>
        <source>幅　　－小</source>
        <translation>Width, small first</translation>
    </message>
    <message>
        <source>幅　　－大</source>
        <translation>Width, large first</translation>
    </message>
    <message>
        <source>高　　－小</source>
        <translation>Height, small first</translation>
    </message>
    <message>
        <source>高　　－大</source>
        <translation>Height, large first</translation>
    </message>
    <message>
        <source>Norvane のﾊﾞｰｼﾞｮﾝ情報</source>
        <translation>About Norvane</translation>
    </message>
    <message>
        <source>Norvane のﾊﾞｰｼﾞｮﾝ情報(&amp;A)...</source>
        <translation>&amp;About Norvane...</translation>
    </message>
    <message>
        <source>(C) 2026 Norvane の開発者たち</source>
        <translation>(C) 2026 the Norvane developers</translation>
    </message>
</context>
</TS>
