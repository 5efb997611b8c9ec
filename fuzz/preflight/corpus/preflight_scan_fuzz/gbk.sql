INSERT [¶©µ¥] VALUES (N'±±¾©')
GO
