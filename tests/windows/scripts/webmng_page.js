// Drives VARO.WebMng late-bound from JScript under cscript.
// Usage: cscript //nologo webmng_page.js BODYFILE OUTDIR
// JScript passes no [out] parameters (ReadBinary, GetFileInfo), and Wine
// offers it no other way to hold a file's bytes, so this page checks what a
// JScript page reaches without a body: thrown descriptions, GUIDs and
// deletions (OUTDIR holds a.tmp, b.tmp and c.tmp).
function codes(s) {
    if (s == null) return "[]";
    var r = [];
    for (var i = 0; i < s.length; i++) r.push(s.charCodeAt(i));
    return "[" + r.join(",") + "]";
}

function thrown(f) {
    try {
        f();
        return "none";
    } catch (e) {
        return (e.number >>> 0).toString(16).toUpperCase() + " " + codes(e.description);
    }
}

var args = WScript.Arguments;
var outDir = args(1);
var mng = new ActiveXObject("VARO.WebMng");

WScript.Echo("error " + thrown(function () { mng.WriteBinary("not bytes", outDir + "\\x.bin"); }));
WScript.Echo("error " + thrown(function () { mng.Form(12345, "title"); }));
WScript.Echo("guid " + mng.CreateGUID() + " " + mng.CreateGUID());
WScript.Echo("deletefile " + mng.DeleteFile(outDir + "\\a.tmp") + " " + mng.DeleteFile(outDir + "\\a.tmp"));
WScript.Echo("deletefileex " + mng.DeleteFileEx(outDir + "\\", "*.tmp"));
WScript.Echo("sentinel done");
