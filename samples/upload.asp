<%@ Language="VBScript" CodePage=932 %>
<%
' upload.asp - receives a multipart/form-data post and saves its files.
' The same logic as upload.vbs, as a classic page: the body comes from
' Request.BinaryRead and the report goes to the response. Uploads are saved
' under new names (a GUID and an allowed extension), never under the client's
' own name: a client must not choose what a file in the web folder is called
' or replace one that is there.
Option Explicit
Response.CharSet = "Shift_JIS"

Dim fields, mng, body, outDir, i, name, clientPath, fileName, fileSize, target

' A new file name for an upload: a GUID, and the client's extension when it is
' one of the harmless ones.
Function SavedName(mng, clientName)
    Dim ext, dot
    ext = ".upload"
    dot = InStrRev(clientName, ".")
    If dot > 0 Then
        If InStr(" .txt .csv .pdf .jpg .jpeg .png .gif .zip .bin ", " " & LCase(Mid(clientName, dot)) & " ") > 0 Then
            ext = LCase(Mid(clientName, dot))
        End If
    End If
    SavedName = mng.CreateGUID() & ext
End Function
fields = Array("title", "comment", "color", "empty", "upload", "data")
outDir = Server.MapPath("uploads")

If Request.ServerVariables("REQUEST_METHOD") = "POST" Then
    Set mng = Server.CreateObject("VARO.WebMng")
    body = Request.BinaryRead(Request.TotalBytes)
    Response.Write "<ul>"
    For i = 0 To UBound(fields)
        name = fields(i)
        If mng.GetFileInfo(body, name, clientPath, fileName, fileSize) <> 0 Then
            Response.Write "<li>" & Server.HTMLEncode(name) & ": (not in the form)</li>"
        ElseIf fileName = "" Then
            Response.Write "<li>" & Server.HTMLEncode(name) & " = " & Server.HTMLEncode(mng.Form(body, name)) & "</li>"
        Else
            target = SavedName(mng, fileName)
            If mng.WriteForm(body, outDir & "\" & target, name) = 0 Then
                Response.Write "<li>" & Server.HTMLEncode(name) & ": " & Server.HTMLEncode(fileName) & ", " & _
                    fileSize & " bytes, saved as " & target & "</li>"
            Else
                Response.Write "<li>" & Server.HTMLEncode(name) & ": not saved</li>"
            End If
        End If
    Next
    Response.Write "</ul>"
End If
%>
<form method="post" enctype="multipart/form-data" accept-charset="Shift_JIS">
  <p><input name="title"> <textarea name="comment"></textarea></p>
  <p><input type="checkbox" name="color" value="red"> <input type="checkbox" name="color" value="blue"></p>
  <p><input type="file" name="empty"> <input type="file" name="upload"> <input type="file" name="data"></p>
  <p><input type="submit"></p>
</form>
