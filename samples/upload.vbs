' upload.vbs - what a page does with a form post, run from the command line.
'
'   cscript //nologo upload.vbs BODYFILE OUTDIR FIELD...
'
' BODYFILE holds the raw multipart/form-data body of a browser's POST, OUTDIR
' is where uploaded files are saved, and the FIELDs are the form's field names
' (a page knows its own form). For each field the script prints its value, or
' describes the uploaded file and saves it under a new name: a GUID and the
' client's extension when it is a harmless one. A client never chooses the
' name of a file on the server, nor replaces one.
Option Explicit

Dim mng, args, body, outDir, i, name, result, clientPath, fileName, fileSize, target

' The extensions a saved file keeps (SaveUnique's); any other becomes .bin.
Const ALLOWED = "txt csv pdf png jpg jpeg gif webp zip"

Function SavedName(mng, clientName)
    Dim ext, candidate
    ext = "bin"
    For Each candidate In Split(ALLOWED, " ")
        If LCase(Right(clientName, Len(candidate) + 1)) = "." & candidate Then ext = candidate
    Next
    SavedName = mng.CreateGUID() & "." & ext
End Function
Set args = WScript.Arguments
If args.Count < 3 Then
    WScript.Echo "usage: cscript //nologo upload.vbs BODYFILE OUTDIR FIELD..."
    WScript.Quit 2
End If
outDir = args(1)
Set mng = CreateObject("VARO.WebMng")

On Error Resume Next
result = mng.ReadBinary(args(0), body)
If Err.Number <> 0 Then
    WScript.Echo "Cannot read " & args(0) & ": " & Err.Description
    WScript.Quit 1
End If
On Error GoTo 0
WScript.Echo "Request body: " & args(0)

For i = 2 To args.Count - 1
    name = args(i)
    If mng.GetFileInfo(body, name, clientPath, fileName, fileSize) <> 0 Then
        WScript.Echo "  " & name & ": (not in the form)"
    ElseIf fileName = "" Then
        WScript.Echo "  " & name & " = """ & mng.Form(body, name) & """"
    Else
        WScript.Echo "  " & name & ": file """ & fileName & """, " & fileSize & " bytes, from """ & clientPath & """"
        target = outDir & "\" & SavedName(mng, fileName)
        If mng.WriteForm(body, target, name) = 0 Then
            WScript.Echo "    saved as " & target
        Else
            WScript.Echo "    not saved"
        End If
    End If
Next
WScript.Echo "Done."
