<%@ Language="VBScript" %>
<%
' host_check.asp - what upload.asp and upload_page_js.asp take from the page
' host, checked on its own: page text with quotes and Japanese, server
' variables, a body read in two parts through a count variable, paths, HTML
' encoding, a failed CreateObject as a catchable error, and an uncaught error
' that ends the page and is reported with its page line.
Option Explicit
Dim mng, count, head, rest
Set mng = Server.CreateObject("VARO.WebMng")
%>
<p class="text">"“ú–{Œê" 'text' \ end</p>
<p>method=<%= Request.ServerVariables("REQUEST_METHOD") %> type=<%= Request.ServerVariables("content_type") %> other=[<%= Request.ServerVariables("HTTP_HOST") %>]</p>
<%
count = 100
head = Request.BinaryRead(count)
Response.Write "<p>head " & count & " " & mng.WriteBinary(head, Server.MapPath("uploads/head.bin")) & "</p>"
count = Request.TotalBytes
rest = Request.BinaryRead(count)
Response.Write "<p>rest " & count & " " & mng.WriteBinary(rest, Server.MapPath("/uploads/rest.bin")) & "</p>"
Response.Write "<p>" & Server.HTMLEncode("<a href=""x"">&</a>") & "</p>"
On Error Resume Next
Set mng = Server.CreateObject("No.Such.Object")
Response.Write "<p>CreateObject failed: " & (Err.Number <> 0) & "</p>"
On Error GoTo 0
Response.NoSuchMember
Response.Write "<p>not reached</p>"
%>
